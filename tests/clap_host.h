// A CLAP host that offers the plug-in no extensions and asks nothing of it, for the
// programs that load bytone.clap only to play it or read its state.
#pragma once

#include <clap/host.h>

inline const clap_host_t kPlainClapHost = {CLAP_VERSION_INIT,
                                           nullptr,
                                           "Bytone's tests",
                                           "Bytone",
                                           "",
                                           "1",
                                           [](const clap_host_t*, const char*) -> const void* { return nullptr; },
                                           [](const clap_host_t*) {},
                                           [](const clap_host_t*) {},
                                           [](const clap_host_t*) {}};
