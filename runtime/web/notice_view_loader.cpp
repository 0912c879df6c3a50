// Loading the notice view's module: see runtime/web/notice_view_module.h.

#include "runtime/web/notice_view_module.h"
#include "runtime/web/web_view.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QOpenGLContext>

QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
QT_END_NAMESPACE

namespace vorsa::runtime {

namespace {

// The web engine draws through a graphics context shared with the application's windows, which Qt
// makes when the application starts only if asked to beforehand; asking then would load the system's
// OpenGL driver (under X11 Mesa's renderer with LLVM, some 55 MB) at every start. The context is made
// here instead, before the engine's libraries load and look for it: without it the engine crashes on X11.
void share_graphics_context()
{
    if (qt_gl_global_share_context()) return;
    // As the engine's own set-up does: the context is handed over even where it cannot be made (the
    // offscreen platform has no OpenGL), since the engine takes a missing one for a fault and crashes,
    // and an invalid one for software drawing.
    auto* context = new QOpenGLContext(QCoreApplication::instance());
    context->create();
    qt_gl_set_global_share_context(context);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

// The module's entry, looked up once; null when the module is missing or broken.
NoticeViewEntry module_entry()
{
    static const NoticeViewEntry entry = [] {
        share_graphics_context();
        const QString program_folder = QCoreApplication::applicationDirPath();
        // Beside the program in a build tree; in the library folder of an installed program.
        const QString installed = program_folder + QStringLiteral("/" VORSA_NOTICE_VIEW_INSTALL_DIR);
        for (const QString& folder : {program_folder, installed}) {
            QLibrary module(folder + QStringLiteral("/" VORSA_NOTICE_VIEW_FILE));
            if (!module.load()) continue;
            if (auto found = reinterpret_cast<NoticeViewEntry>(module.resolve(notice_view_entry_name)))
                return found;
        }
        return NoticeViewEntry{};
    }();
    return entry;
}

} // namespace

std::unique_ptr<Control> load_notice_view(QWidget* parent, const Text& page, const Text& server, int x, int y,
                                          int width, int height)
{
    if (!web_views_allowed()) return nullptr;
    const NoticeViewEntry entry = module_entry();
    return std::unique_ptr<Control>(entry ? entry(parent, page, server, x, y, width, height) : nullptr);
}

} // namespace vorsa::runtime
