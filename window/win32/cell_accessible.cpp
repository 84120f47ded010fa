#include "window/win32/cell_accessible.h"

#include <oleacc.h>

#include <exception>
#include <memory>
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

struct ComRelease {
  void operator()(IUnknown* object) const { object->Release(); }
};
// A COM reference, released when it goes.
template <typename Interface>
using ComPtr = std::unique_ptr<Interface, ComRelease>;

bool IsSelf(const VARIANT& child) {
  return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// The child that an IDispatch caller names in the optional argument of a property, as a
// VT_I4 child identifier; false when it names none that a number could be.
bool ChildArgument(const DISPPARAMS& parameters, VARIANT& child) {
  child.vt = VT_I4;
  child.lVal = CHILDID_SELF;
  if (parameters.cArgs == 0) {
    return true;
  }
  const VARIANT* given = &parameters.rgvarg[0];
  if (given->vt == (VT_BYREF | VT_VARIANT) && given->pvarVal != nullptr) {
    given = given->pvarVal;
  }
  switch (given->vt) {
    case VT_EMPTY:
      return true;
    case VT_ERROR:
      // How a scripting client leaves out an optional argument.
      return given->scode == DISP_E_PARAMNOTFOUND;
    case VT_I4:
    case VT_INT:
      child.lVal = given->lVal;
      return true;
    case VT_I2:
      child.lVal = given->iVal;
      return true;
    default:
      return false;
  }
}

// The system's object for the check box, passed every call but the ones for its own name.
// Whatever interface a client asks for leads back to this one object: the system's object is
// never handed out, since it would give the hidden caption as the name.
class NamedAccessible final : public IAccessible, public IOleWindow {
 public:
  NamedAccessible(HWND cell, ComPtr<IAccessible> system, std::wstring name, const Api& api)
      : cell_(cell), system_(std::move(system)), name_(std::move(name)), api_(api) {}
  NamedAccessible(const NamedAccessible&) = delete;
  NamedAccessible& operator=(const NamedAccessible&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (out == nullptr) {
      return E_POINTER;
    }
    if (id == __uuidof(IUnknown) || id == __uuidof(IDispatch) || id == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
    } else if (id == __uuidof(IOleWindow)) {
      // How clients find the cell's window from its object.
      *out = static_cast<IOleWindow*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  // Interlocked, though an apartment's objects are called on its own thread only: the cost is
  // nothing, and a count is then right wherever the object ends up.
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
      delete this;
    }
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (window == nullptr) {
      return E_POINTER;
    }
    *window = cell_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

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
  // Scripting clients, and some screen readers, read the name through here, which the system's
  // object would answer from its own get_accName.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID id, LCID locale, WORD flags,
                                   DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argument_error) override {
    if (member != DISPID_ACC_NAME || (flags & DISPATCH_PROPERTYGET) == 0) {
      return system_->Invoke(member, id, locale, flags, parameters, result, exception,
                             argument_error);
    }
    if (parameters == nullptr || result == nullptr) {
      return E_POINTER;
    }
    if (parameters->cNamedArgs != 0) {
      return DISP_E_NONAMEDARGS;
    }
    if (parameters->cArgs > 1) {
      return DISP_E_BADPARAMCOUNT;
    }
    VARIANT child{};
    if (!ChildArgument(*parameters, child)) {
      if (argument_error != nullptr) {
        *argument_error = 0;
      }
      return DISP_E_TYPEMISMATCH;
    }
    BSTR name = nullptr;
    const HRESULT got = get_accName(child, &name);
    if (SUCCEEDED(got)) {
      result->vt = VT_BSTR;
      result->bstrVal = name;
    }
    return got;
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
  ~NamedAccessible() = default;

  HWND cell_;
  ComPtr<IAccessible> system_;
  std::wstring name_;
  const Api& api_;
  LONG references_ = 1;
};

}  // namespace

LRESULT AnswerCellObjectRequest(HWND cell, WPARAM wparam, const std::wstring& name) noexcept {
  const Api* api = LoadApi();
  if (api == nullptr) {
    return 0;
  }
  // The check box's own object: oleacc knows a superclass of Button by its base class.
  IAccessible* made = nullptr;
  if (FAILED(api->create_standard(cell, OBJID_CLIENT, __uuidof(IAccessible),
                                  reinterpret_cast<void**>(&made)))) {
    return 0;
  }
  ComPtr<IAccessible> system(made);
  ComPtr<IAccessible> named;
  try {
    named.reset(new NamedAccessible(cell, std::move(system), name, *api));
  } catch (const std::exception&) {
    return 0;
  }
  // LresultFromObject takes its own reference for the client; ours ends with `named`.
  const LRESULT answer = api->lresult_from_object(__uuidof(IAccessible), wparam, named.get());
  return answer < 0 ? 0 : answer;
}

}  // namespace kavoni
