#include <cstdlib>
#include <filesystem>

#include "FuzzTarget.h"
#include "Handlers/NativeMessageHandler.h"
#include "ViewController.h"

namespace {

// The preferences live in a home of the fuzzer's own.
struct FuzzHome {
    FuzzHome() {
        std::string home = (std::filesystem::temp_directory_path() / "kelvane-fuzz-home").string();
        std::filesystem::create_directories(home);
        ::setenv("HOME", home.c_str(), 1);
    }
};

}  // namespace

// First byte: which of the eighteen names (or none); second: the body's JavaScript type;
// the rest: the body.
KELVANE_FUZZ_TARGET(MessageBodies) {
    static FuzzHome home;
    if (size < 2) return 0;
    const auto& names = ViewController::scriptMessageNames();
    platform::ScriptMessage message;
    message.name = data[0] < names.size() ? names[data[0]] : "unknown";
    // Four messages reach outside the process: the two joins start network requests, the
    // report-abuse link and the proxy settings open desktop handlers. Their bodies' decoding is
    // fuzzed through the records target.
    if (message.name == "sendJoinDetailsToNative" || message.name == "sendRRSessionKeyToNative" ||
        message.name == "sendJoinReportAbuseLinkToNative" || message.name == "openProxy") {
        return 0;
    }
    message.body.type = static_cast<platform::ScriptValueType>(data[1] % 7);
    message.body.text = fuzzText(data + 2, size - 2);
    message.body.number = static_cast<double>(size);
    message.body.boolean = size % 2;
    NativeMessageHandler::shared().handleMessageFromWebView(message);
    return 0;
}
