#include "window/web/page_markup.h"

#include <string_view>
#include <utility>
#include <vector>

#include "sprite/command.h"
#include "sprite/rows.h"
#include "window/layout.h"

namespace kavoni::page_markup {

namespace {

std::string Html(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string Json(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string quoted = "\"";
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (code < 0x20) {
      quoted += "\\u00";
      quoted += kHex[code >> 4];
      quoted += kHex[code & 0xf];
    } else {
      quoted += c;
    }
  }
  return quoted + '"';
}

std::string CellId(int index) {
  return std::string(layout::kCheck1Name) + "(" + std::to_string(index) + ")";
}

// An id as a CSS selector: the cells' parentheses need escaping there.
std::string Selector(std::string_view id) {
  std::string selector = "#";
  for (const char c : id) {
    if (c == '(' || c == ')') {
      selector += '\\';
    }
    selector += c;
  }
  return selector;
}

std::string Px(int pixels) {
  return std::to_string(pixels) + "px";
}

std::string Place(std::string_view id, layout::TwipsRect twips) {
  const layout::PixelRect rect = layout::ToPixels(twips);
  return Selector(id) + "{left:" + Px(rect.left) + ";top:" + Px(rect.top) +
         ";width:" + Px(rect.width) + ";height:" + Px(rect.height) + "}\n";
}

// The pattern's extension, "*.txt" giving ".txt", as the picker's file type takes it.
std::string_view PatternExtension() {
  const std::string_view pattern = layout::kDialogPattern;
  return pattern.substr(pattern.find('.'));
}

}  // namespace

std::string Controls() {
  std::string html;
  for (int index = 0; index < kCellCount; ++index) {
    // The first cell has the focus at start, as on the desktop.
    html += "<input type=\"checkbox\" id=\"" + Html(CellId(index)) + "\" aria-label=\"" +
            Html(layout::CellName(index)) + "\"" + (index == 0 ? " autofocus" : "") + ">\n";
  }
  html += "<button type=\"button\" id=\"" + Html(layout::kCommand1Control.name) + "\">" +
          Html(layout::kCommand1Control.caption) + "</button>\n";
  html += "<label id=\"" + Html(layout::kLabel1Control.name) + "\" for=\"" +
          Html(layout::kNmeControl.name) + "\">" + Html(layout::kLabel1Control.caption) +
          "</label>\n";
  // The name goes into the file exactly as typed: no capital put first on a tablet, no
  // correction, no length limit.
  html += "<input type=\"text\" id=\"" + Html(layout::kNmeControl.name) + "\" value=\"" +
          Html(layout::kNmeControl.caption) +
          "\" autocomplete=\"off\" autocapitalize=\"off\" autocorrect=\"off\" "
          "spellcheck=\"false\">\n";
  return html;
}

std::string LayoutStyle() {
  const layout::PixelRect client = layout::ToPixels(layout::kClientArea);
  std::string css = Selector(layout::kWindowCaption) + "{width:" + Px(client.width) +
                    ";height:" + Px(client.height) + "}\n";
  css += Place(layout::kLabel1Control.name, layout::kLabel1Control.rect);
  css += Place(layout::kNmeControl.name, layout::kNmeControl.rect);
  css += Place(layout::kCommand1Control.name, layout::kCommand1Control.rect);
  for (int index = 0; index < kCellCount; ++index) {
    css += Place(CellId(index), layout::Check1(index));
  }
  return css;
}

std::string PartsAsJson() {
  const MessageBoxRequest failure = FailureMessage();
  const std::vector<std::pair<std::string_view, std::string>> parts = {
      {"title", Html(layout::kWindowCaption)},
      {"window", Html(layout::kWindowCaption)},
      {"layout_style", LayoutStyle()},
      {"controls", Controls()},
      {"dialog", Html(layout::kDialogName)},
      {"dialog_title", Html(layout::kDialogTitle)},
      {"dialog_pattern", Html(layout::kDialogPattern)},
      {"dialog_extension", Html(PatternExtension())},
      // The failure box as the core shows it, there already for a core that cannot start.
      {"failure_title", Html(failure.title)},
      {"failure_text", Html(failure.prompt)},
      {"failure_flags", std::to_string(MessageBoxFlags(failure))},
  };
  std::string json = "{";
  for (const auto& [key, value] : parts) {
    json += (json.size() > 1 ? ",\n" : "\n") + Json(key) + ": " + Json(value);
  }
  return json + "\n}\n";
}

}  // namespace kavoni::page_markup
