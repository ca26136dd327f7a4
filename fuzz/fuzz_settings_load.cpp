// The settings file parser over arbitrary bytes: it must never read out of
// bounds, and whatever it accepts must write back to a file that reads the same.
// The text conversion must carry any byte string through UTF-16 unchanged.
#include "app/Settings.h"
#include "app/TextCodec.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrin::app;

    if (auto parsed = parseSettingsFile({data, size})) {
        const auto record = encodeSettingsRecord(*parsed);
        std::vector<uint8_t> file(record.begin(), record.end());
        file.insert(file.end(), parsed->videoCodecSettings.begin(), parsed->videoCodecSettings.end());
        auto again = parseSettingsFile(file);
        if (!again || !(*again == *parsed))
            std::abort();
        (void)parsed->outputFolder.utf8();
        (void)parsed->videoCodec.utf8();
    }

    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (utf16ToUtf8(utf8ToUtf16(bytes)) != bytes)
        std::abort();
    return 0;
}
