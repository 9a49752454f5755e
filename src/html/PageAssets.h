// The viewer's own files, compiled in from src/html so that a page needs nothing at run time but
// three.js.
#pragma once

namespace nimbo::page_assets {
extern const char css[];     // page.css
extern const char body[];    // page.html: the page's elements
extern const char script[];  // page.js: the viewer
}  // namespace nimbo::page_assets
