// The module's entry point (built into vorsa_notice_view only): see runtime/web/notice_view_module.h.

#include "runtime/web/notice_view_module.h"

#include "runtime/web/notice_view.h"

extern "C" Q_DECL_EXPORT vorsa::runtime::Control*
vorsa_create_notice_view(QWidget* parent, const vorsa::runtime::Text& page,
                         const vorsa::runtime::Text& server, int x, int y, int width, int height)
{
    return vorsa::runtime::make_notice_view(parent, page, server, x, y, width, height).release();
}
