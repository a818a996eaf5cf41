#include "StartRequest.h"

#include <array>
#include <mutex>
#include <string_view>

#include "VolumeStart.h"
#include "platform/Bundle.h"
#include "platform/Process.h"

namespace {

constexpr std::string_view kVolumeItem = "volume=";
constexpr std::string_view kArgumentItem = "argument=";
// The launch arguments a support request is made of.
constexpr std::array<std::string_view, 3> kRequestArguments = {"-KelvaneToken", "-DC",
                                                               "-pathForKelvane"};

std::mutex& currentMutex() {
    static std::mutex mutex;
    return mutex;
}

StartRequest& currentRequest() {
    static StartRequest request;
    return request;
}

}  // namespace

StartRequest StartRequest::ofThisProcess(int argc, char** argv) {
    StartRequest request;
    // Taken, so that nothing this process starts believes it came off a volume too.
    request.volume = platform::Process::takeEnvironmentVariable(kFromVolumeVariable);
    if (!request.volume)
        request.volume = VolumeStart::kelvaneVolumeOf(platform::Bundle::mainBundlePath());
    for (int i = 1; i < argc; ++i) request.arguments.emplace_back(argv[i]);
    return request;
}

StartRequest StartRequest::current() {
    std::lock_guard lock(currentMutex());
    return currentRequest();
}

void StartRequest::setCurrent(StartRequest request) {
    std::lock_guard lock(currentMutex());
    currentRequest() = std::move(request);
}

bool StartRequest::bringsRequest() const {
    if (volume) return true;
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
        for (std::string_view key : kRequestArguments) {
            if (arguments[i] == key) return true;
        }
    }
    return false;
}

std::string StartRequest::description() const {
    std::string text;
    if (volume) text = "from the volume " + *volume;
    if (!arguments.empty()) {
        text += text.empty() ? "with the arguments" : " and the arguments";
        for (const std::string& argument : arguments) text += " " + argument;
    }
    return text.empty() ? "without a request" : text;
}

std::vector<std::string> StartRequest::items() const {
    std::vector<std::string> items;
    if (volume) items.push_back(std::string(kVolumeItem) + *volume);
    for (const std::string& argument : arguments)
        items.push_back(std::string(kArgumentItem) + argument);
    return items;
}

StartRequest StartRequest::fromItems(const std::vector<std::string>& items) {
    StartRequest request;
    for (const std::string& item : items) {
        if (item.starts_with(kVolumeItem)) {
            request.volume = item.substr(kVolumeItem.size());
        } else if (item.starts_with(kArgumentItem)) {
            request.arguments.push_back(item.substr(kArgumentItem.size()));
        }
    }
    return request;
}
