#include "app/program.h"

#include "app/main_window.h"
#include "online/vendor_server.h"
#include "runtime/fatal.h"
#include "runtime/qt/printer.h"
#include "runtime/qt/qt_interaction.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/qt/web_view.h"

#include <QWebEngineView>

namespace vorsa::app {

int program_main(int argc, char* argv[], const std::function<void(QApplication&)>& application_made)
{
    runtime::install_out_of_memory_handler();
    runtime::prepare_web_views();
    QApplication application(argc, argv);
    if (application_made) application_made(application);
    runtime::install_qt_platform();
    runtime::install_qt_interaction();

    // The notice page's view: its widget becomes a child of the window and goes with it.
    runtime::WebView web_view;
    runtime::Printer printer;
    StartOptions options;
    options.server_address = online::vendor_server_address();
    options.printers = runtime::list_printers;
    options.printer = &printer;
    options.notice_view = [&web_view](QWidget* parent, const runtime::Text& page) -> runtime::Control* {
        if (!web_view.create_web_view(parent, "about:blank", preview_left, preview_top, preview_width,
                                      preview_height))
            return nullptr;
        web_view.write_web_document(page);
        return &web_view;
    };
    return start_program(options);
}

} // namespace vorsa::app
