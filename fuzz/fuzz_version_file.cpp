// SPDX-License-Identifier: GPL-2.0-or-later
// The version file comes from the network: any bytes must parse safely.
#include "base/Diagnostics.h"
#include "update/UpdateCheck.h"
#include "update/VersionFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct NoHttp : tavrin::update::HttpGet {
    bool open(const std::string&) override { return false; }
    bool connect() override { return false; }
    bool openRequest(const std::string&) override { return false; }
    bool sendRequest() override { return false; }
    long readBody(char*, std::size_t) override { return -1; }
    void close() override {}
    void cancel() override {}
};

struct NoPrompt : tavrin::update::UpdatePrompt {
    void offerUpdate(const std::string&) override { std::abort(); } // no key open: never reached
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tavrin::base::setDiagnosticsToStdout(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static NoHttp http;
    static NoPrompt prompt;
    static tavrin::update::UpdateCheck check("", http, prompt, [] { return 0u; });

    // As the check thread fills it: zeroed, at most 2047 bytes of body.
    auto& buffer = check.receiveBuffer();
    buffer.fill(0);
    const std::size_t count = size < buffer.size() - 1 ? size : buffer.size() - 1;
    std::memcpy(buffer.data(), data, count);

    const tavrin::update::VersionFile file = tavrin::update::readVersionFile(buffer.data(), int(count));
    if (file.url.size() > 63)
        std::abort();
    if (!file.valid && (file.version != 0 || !file.url.empty()))
        std::abort();
    (void)tavrin::update::isWebAddress(file.url);

    check.parseVersionFile(int(count));
    return 0;
}
