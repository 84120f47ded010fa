// Run under Node while the page is built: prints the page's parts made from the layout, for
// make_page.mjs to put into page.html.
#include <cstdio>

#include "window/web/page_markup.h"

int main() {
  const std::string json = kavoni::page_markup::PartsAsJson();
  return std::fwrite(json.data(), 1, json.size(), stdout) == json.size() ? 0 : 1;
}
