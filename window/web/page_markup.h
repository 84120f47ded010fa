#pragma once

#include <string>

// The page's own parts that come from the layout and the command, made when the page is
// built so that the page shows its controls before the core has started, and never writes a
// text or a place a second time. page.html holds the rest and names these parts.
namespace kavoni::page_markup {

// The window's controls, in tab order: the 64 cells, the button, the label and the name box.
std::string Controls();

// Where each control sits, in CSS pixels at 15 twips each: the layout at 96 DPI, which the
// browser scales for zoom and for screens of any density.
std::string LayoutStyle();

// Every part, as one JSON object of HTML fragments keyed by the names that page.html uses.
std::string PartsAsJson();

}  // namespace kavoni::page_markup
