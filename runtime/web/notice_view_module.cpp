// The module's entry point (built into vorsa_notice_view only): see runtime/web/notice_view_module.h.

#include "runtime/web/notice_view_module.h"

#include "runtime/web/web_view.h"

#include <QWebEngineView>
#include <memory>

extern "C" Q_DECL_EXPORT vorsa::runtime::Control* vorsa_create_notice_view(QWidget* parent,
                                                                           const vorsa::runtime::Text& page,
                                                                           int x, int y, int width,
                                                                           int height)
{
    auto view = std::make_unique<vorsa::runtime::WebView>();
    if (!view->create_web_view(parent, "about:blank", x, y, width, height)) return nullptr;
    view->write_web_document(page);
    return view.release();
}
