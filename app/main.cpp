// The program: the Qt application with the platform services and message boxes installed, then the
// main window until it is closed.

#include "app/main_window.h"
#include "online/vendor_server.h"
#include "runtime/fatal.h"
#include "runtime/qt/printer.h"
#include "runtime/qt/qt_interaction.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/qt/web_view.h"

#include <QApplication>
#include <QWebEngineView>

int main(int argc, char* argv[])
{
    using namespace vorsa;
    runtime::install_out_of_memory_handler();
    runtime::prepare_web_views();
    QApplication application(argc, argv);
    runtime::install_qt_platform();
    runtime::install_qt_interaction();

    // The notice page's view: its widget becomes a child of the window and goes with it.
    runtime::WebView web_view;
    runtime::Printer printer;
    app::StartOptions options;
    options.server_address = online::vendor_server_address();
    options.printers = runtime::list_printers;
    options.printer = &printer;
    options.notice_view = [&web_view](QWidget* parent, const runtime::Text& page) -> runtime::Control* {
        if (!web_view.create_web_view(parent, "about:blank", app::preview_left, app::preview_top,
                                      app::preview_width, app::preview_height))
            return nullptr;
        web_view.write_web_document(page);
        return &web_view;
    };
    return app::start_program(options);
}
