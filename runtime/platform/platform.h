#pragma once
// The process-wide hooks of the core in one object: what shows a fault, what decodes pictures other
// than BMP, where the screen's resolution comes from, what shows message boxes and runs pending events,
// and the state of the random generator. The program installs its services once at start-up; a test
// that replaces any of them holds a PlatformGuard, which puts back all of them when the test ends.
// The Qt widgets add their own hooks in runtime/widgets/widgets_platform.h.

#include "runtime/controls/interaction.h"
#include "runtime/surface/picture.h"
#include "runtime/text/fatal.h"

#include <cstdint>
#include <functional>

namespace vorsa::runtime {

struct Platform
{
    FatalHandler fatal_handler = nullptr;     // nullptr: standard error
    PictureDecoder picture_decoder;           // empty: BMP only
    std::function<int()> screen_dpi_source;   // empty: 96 dpi
    Interaction* interaction = nullptr;       // nullptr: the console
    std::uint32_t random_generator_state = 1; // the calling thread's
};

// The hooks installed now.
Platform current_platform();

// Installs every hook of `platform` at once.
void install_platform(const Platform& platform);

// Remembers the hooks installed when it is made and installs them again when it ends, whatever was
// installed meanwhile.
class PlatformGuard
{
public:
    PlatformGuard() : m_saved(current_platform()) {}
    ~PlatformGuard() { install_platform(m_saved); }
    PlatformGuard(const PlatformGuard&) = delete;
    PlatformGuard& operator=(const PlatformGuard&) = delete;

private:
    Platform m_saved;
};

} // namespace vorsa::runtime
