#pragma once

#include <optional>
#include <string>
#include <vector>

// The support request a start brings: the Kelvane volume it was started from, and its launch
// arguments. A later start hands it to the copy that runs (as items of text), which then takes
// it as its own.
class StartRequest {
  public:
    // Set for the private copy a start off the volume runs (VolumeStart): the volume it left.
    static constexpr const char* kFromVolumeVariable = "KELVANE_FROM_VOLUME";

    // This process's request: the volume it came from or stands on, and its arguments.
    static StartRequest ofThisProcess(int argc, char** argv);
    // The request the process runs for: this start's, until a later start's takes its place.
    static StartRequest current();
    static void setCurrent(StartRequest request);

    // A volume, or one of the arguments a support request is made of, with its value.
    bool bringsRequest() const;
    // What the log says of it.
    std::string description() const;

    std::vector<std::string> items() const;
    // Items this version does not know are passed over.
    static StartRequest fromItems(const std::vector<std::string>& items);

    std::optional<std::string> volume;
    std::vector<std::string> arguments;
};
