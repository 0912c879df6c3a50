#pragma once
// The notice page's web view as a module of its own (vorsa_notice_view), loaded when the first notice
// page has arrived. A program built with a vendor server thus maps the web engine (QtWebEngine with
// Chromium, QtQuick, QtQml and some 35 more libraries, about 20 ms and 25 MB before main) only when there
// is a page to show, and a start whose server does not answer costs what an offline start costs.

#include "runtime/controls/controls.h"
#include "runtime/text/text.h"

#include <memory>

class QWidget;

namespace vorsa::runtime {

// The module's one entry point, looked up by name: a visible notice view (runtime/web/notice_view.h),
// child of `parent` at (x, y) with the given size, showing the HTML text `page` (GBK) and loading from
// `server` only; nullptr when no view could be made. The caller owns the object; the view's widget goes
// with `parent`, or when the object is hidden.
using NoticeViewEntry = Control* (*)(QWidget* parent, const Text& page, const Text& server, int x, int y,
                                     int width, int height);
inline constexpr char notice_view_entry_name[] = "vorsa_create_notice_view";

// Loads the module once (beside the program, else in the program's library folder) and makes a view
// with it; nullptr when the module cannot be loaded or made no view. As root nothing is loaded: the
// web engine's sandbox cannot run for root, and a page is never shown without it.
std::unique_ptr<Control> load_notice_view(QWidget* parent, const Text& page, const Text& server, int x, int y,
                                          int width, int height);

} // namespace vorsa::runtime
