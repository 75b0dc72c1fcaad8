// pxctl serve is not built for Windows yet: it says so.
#include "apps/serve.h"

#include <cstdio>

namespace apps {

int serve(const ServeOptions&, script::ScpiInstrument&, const platform::SignalWatch&, const std::function<void()>&) {
    std::fputs("pxctl: serve is not available in this Windows build; run pxctl serve on Linux\n", stderr);
    return 2;
}

}  // namespace apps
