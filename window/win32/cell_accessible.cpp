#include "window/win32/cell_accessible.h"

#include <oleacc.h>

#include <exception>
#include <utility>

#include "window/win32/system_library.h"

namespace kavoni {

namespace {

struct Api {
  Library oleacc = LoadSystemLibrary(L"oleacc.dll");
  Library oleaut32 = LoadSystemLibrary(L"oleaut32.dll");
  decltype(CreateStdAccessibleObject)* create_standard =
      Find<decltype(CreateStdAccessibleObject)>(oleacc, "CreateStdAccessibleObject");
  decltype(LresultFromObject)* lresult_from_object =
      Find<decltype(LresultFromObject)>(oleacc, "LresultFromObject");
  decltype(SysAllocString)* allocate_string =
      Find<decltype(SysAllocString)>(oleaut32, "SysAllocString");
};

// Loaded once and kept for the life of the process: a screen reader may hold the objects, and
// the code behind them, until after the window has gone.
const Api* LoadApi() noexcept {
  static const Api* const api = []() -> const Api* {
    try {
      return new Api();
    } catch (const std::exception&) {
      return nullptr;
    }
  }();
  return api;
}

bool IsSelf(const VARIANT& child) {
  return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// The system's object for the check box, passed every call but the one for its own name.
class NamedAccessible final : public IAccessible {
 public:
  NamedAccessible(IAccessible* system, std::wstring name, const Api& api)
      : system_(system), name_(std::move(name)), api_(api) {}
  NamedAccessible(const NamedAccessible&) = delete;
  NamedAccessible& operator=(const NamedAccessible&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (out == nullptr) {
      return E_POINTER;
    }
    if (id == __uuidof(IUnknown) || id == __uuidof(IDispatch) || id == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    // Clients find the cell's window through IOleWindow, which the system's object answers.
    // Nothing else is passed on, since it could lead back to that object and its hidden name.
    if (id == __uuidof(IOleWindow)) {
      return system_->QueryInterface(id, out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --references_;
    if (left == 0) {
      delete this;
    }
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!IsSelf(child)) {
      return system_->get_accName(child, name);
    }
    if (name == nullptr) {
      return E_POINTER;
    }
    *name = api_.allocate_string(name_.c_str());
    return *name != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  // Everything else is the system's.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return system_->GetTypeInfoCount(count);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return system_->GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID id, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    return system_->GetIDsOfNames(id, names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID id, LCID locale, WORD flags,
                                   DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argument_error) override {
    return system_->Invoke(member, id, locale, flags, parameters, result, exception,
                           argument_error);
  }
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return system_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    return system_->get_accChildCount(count);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
    return system_->get_accChild(child, object);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return system_->get_accValue(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
    return system_->get_accDescription(child, description);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    return system_->get_accRole(child, role);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return system_->get_accState(child, state);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
    return system_->get_accHelp(child, help);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
    return system_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return system_->get_accKeyboardShortcut(child, shortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
    return system_->get_accFocus(child);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
    return system_->get_accSelection(children);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return system_->get_accDefaultAction(child, action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
    return system_->accSelect(flags, child);
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                        VARIANT child) override {
    return system_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    return system_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long left, long top, VARIANT* child) override {
    return system_->accHitTest(left, top, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return system_->accDoDefaultAction(child);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
    return system_->put_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return system_->put_accValue(child, value);
  }

 private:
  ~NamedAccessible() { system_->Release(); }

  IAccessible* system_;
  std::wstring name_;
  const Api& api_;
  long references_ = 1;
};

}  // namespace

LRESULT AnswerCellObjectRequest(HWND cell, WPARAM wparam, const std::wstring& name) noexcept {
  const Api* api = LoadApi();
  if (api == nullptr) {
    return 0;
  }
  IAccessible* system = nullptr;
  if (FAILED(api->create_standard(cell, OBJID_CLIENT, __uuidof(IAccessible),
                                  reinterpret_cast<void**>(&system)))) {
    return 0;
  }
  NamedAccessible* named = nullptr;
  try {
    named = new NamedAccessible(system, name, *api);
  } catch (const std::exception&) {
    system->Release();
    return 0;
  }
  // LresultFromObject takes its own reference for the client; ours ends here.
  const LRESULT answer = api->lresult_from_object(__uuidof(IAccessible), wparam, named);
  named->Release();
  return answer < 0 ? 0 : answer;
}

}  // namespace kavoni
