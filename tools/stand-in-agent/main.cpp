// Stand-in for the support agent, for development and tests. When started it writes a receipt
// of what it was handed and exits (after $KELVANE_STAND_IN_AGENT_SECONDS, when set). In a
// session with a display it also shows a small window saying that it started, for which
// session key and server, and runs until that window is closed (or the seconds are up);
// KELVANE_STAND_IN_AGENT_WINDOW=0 (the tests and benchmarks) leaves the window out:
//   ~/Library/Application Support/ConveloNative/OrvoAgentReceipt.json
//     {"arguments": [...], "joinDetails": text|null, "connectionSettings": text|null}
//   ~/Library/Application Support/ConveloNative/OrvoAgentStarts.log   one line per start

#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

namespace {

nlohmann::json contentsOrNull(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The value of `&key=` in the join-details line.
std::string joinValue(const std::string& details, const std::string& key) {
    std::string marker = "&" + key + "=";
    std::size_t start = details.find(marker);
    if (start == std::string::npos) return "(unknown)";
    start += marker.size();
    return details.substr(start, details.find('&', start) - start);
}

bool windowWanted() {
    const char* wanted = std::getenv("KELVANE_STAND_IN_AGENT_WINDOW");
    bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    return display && !(wanted && std::string(wanted) == "0");
}

// Shows the window until it is closed or `seconds` (when above 0) are up; false when there is
// no display to show it on.
bool showStartedWindow(const nlohmann::json& joinDetails, int seconds) {
    if (!gtk_init_check()) return false;
    std::string details = joinDetails.is_string() ? joinDetails.get<std::string>() : "";
    std::string text =
        "The support program has started.\n\nSession key: " + joinValue(details, "key") +
        "\nServer: " + joinValue(details, "webServerName") +
        "\n\nThis window stands in for the support agent; close it to end it.";
    GtkWidget* window = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window), "Orvo support agent (stand-in)");
    gtk_window_set_default_size(GTK_WINDOW(window), 420, 160);
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_widget_set_margin_start(label, 24);
    gtk_widget_set_margin_end(label, 24);
    gtk_widget_set_margin_top(label, 24);
    gtk_widget_set_margin_bottom(label, 24);
    gtk_window_set_child(GTK_WINDOW(window), label);
    gtk_window_present(GTK_WINDOW(window));
    gint64 until = seconds > 0 ? g_get_monotonic_time() + gint64(seconds) * G_USEC_PER_SEC : 0;
    while (g_list_model_get_n_items(gtk_window_get_toplevels()) > 0 &&
           (until == 0 || g_get_monotonic_time() < until)) {
        g_main_context_iteration(nullptr, until == 0);
        if (until != 0) g_usleep(20000);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* home = std::getenv("HOME");
    if (!home) return 1;
    std::string folder = std::string(home) + "/Library/Application Support/ConveloNative/";
    nlohmann::json receipt;
    receipt["arguments"] = nlohmann::json::array();
    for (int i = 1; i < argc; ++i) receipt["arguments"].push_back(argv[i]);
    receipt["joinDetails"] = contentsOrNull(folder + "orvojoindetails.conf");
    receipt["connectionSettings"] =
        contentsOrNull(std::string(home) + "/Library/Logs/OrvoTendra/ConnectionSettings.plist");
    receipt["pid"] = ::getpid();

    std::string path = folder + "OrvoAgentReceipt.json";
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary);
        out << receipt.dump(2) << "\n";
        if (!out) return 1;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) return 1;
    std::ofstream(folder + "OrvoAgentStarts.log", std::ios::app)
        << "started " << ::getpid() << "\n";
    // A real agent keeps running for its session; tests that need that ask for it.
    const char* linger = std::getenv("KELVANE_STAND_IN_AGENT_SECONDS");
    int seconds = linger ? std::atoi(linger) : 0;
    if (windowWanted() && showStartedWindow(receipt["joinDetails"], seconds)) return 0;
    if (seconds > 0) ::sleep(static_cast<unsigned>(seconds));
    return 0;
}
