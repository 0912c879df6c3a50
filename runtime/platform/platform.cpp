#include "runtime/platform/platform.h"

#include "runtime/surface/surface.h"
#include "runtime/text/numbers.h"

namespace vorsa::runtime {

Platform current_platform()
{
    return {fatal_handler(), picture_decoder(), screen_dpi_source(), installed_interaction(),
            random_generator_state()};
}

void install_platform(const Platform& platform)
{
    set_fatal_handler(platform.fatal_handler);
    set_picture_decoder(platform.picture_decoder);
    set_screen_dpi_source(platform.screen_dpi_source);
    set_interaction(platform.interaction);
    set_random_seed(platform.random_generator_state);
}

} // namespace vorsa::runtime
