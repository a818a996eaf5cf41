#include "Options.h"

#include <glib.h>

#include <cstdio>

namespace {

std::string taken(gchar* value) {
    std::string text = value ? value : "";
    g_free(value);
    return text;
}

}  // namespace

std::optional<Options> Options::parse(int argc, char** argv) {
    Options options;
    gint port = 0;
    gchar *portFile = nullptr, *caOut = nullptr, *caKey = nullptr, *scenario = nullptr,
          *agentImage = nullptr, *kelvaneImage = nullptr, *joinPage = nullptr, *altNames = nullptr,
          *agentVersion = nullptr;
    gboolean offerUpdate = FALSE;
    GOptionEntry entries[] = {
        {"port", 0, 0, G_OPTION_ARG_INT, &port, "Port on 127.0.0.1 (0: any free one)", "N"},
        {"port-file", 0, 0, G_OPTION_ARG_FILENAME, &portFile, "Write the port here", "F"},
        {"ca-out", 0, 0, G_OPTION_ARG_FILENAME, &caOut, "Write the authority's certificate here",
         "F"},
        {"ca-key", 0, 0, G_OPTION_ARG_FILENAME, &caKey,
         "Keep the authority across runs: key in F, certificate in F.crt", "F"},
        {"scenario", 0, 0, G_OPTION_ARG_FILENAME, &scenario,
         "JSON object whose \"routes\" replace the start-up answers", "F"},
        {"agent-image", 0, 0, G_OPTION_ARG_FILENAME, &agentImage, "Served as /agent/OrvoMac.dmg",
         "F"},
        {"kelvane-image", 0, 0, G_OPTION_ARG_FILENAME, &kelvaneImage,
         "Served as /agent/OrvoTendraKelvane.dmg", "F"},
        {"join-page", 0, 0, G_OPTION_ARG_FILENAME, &joinPage, "Join page instead of the built-in",
         "F"},
        {"subject-alt-names", 0, 0, G_OPTION_ARG_STRING, &altNames,
         "Names of the server certificate, in OpenSSL's form", "LIST"},
        {"agent-version", 0, 0, G_OPTION_ARG_STRING, &agentVersion,
         "Version of the agent in the agent image (default: the stand-in agent's)", "V"},
        {"offer-update", 0, 0, G_OPTION_ARG_NONE, &offerUpdate,
         "Answer the self-update check with a newer build", nullptr},
        {},
    };
    g_autoptr(GOptionContext) context = g_option_context_new("- stand-in for the service");
    g_option_context_add_main_entries(context, entries, nullptr);
    g_autoptr(GError) error = nullptr;
    bool parsed = g_option_context_parse(context, &argc, &argv, &error);
    options.port = port;
    options.portFile = taken(portFile);
    options.caOut = taken(caOut);
    options.caKey = taken(caKey);
    options.scenario = taken(scenario);
    options.agentImage = taken(agentImage);
    options.kelvaneImage = taken(kelvaneImage);
    options.joinPage = taken(joinPage);
    if (altNames) options.subjectAltNames = taken(altNames);
    if (agentVersion) options.agentVersion = taken(agentVersion);
    options.offerUpdate = offerUpdate;
    if (!parsed) {
        std::fprintf(stderr, "substitute-server: %s\n", error->message);
        return std::nullopt;
    }
    if (argc > 1) {
        std::fprintf(stderr, "substitute-server: unexpected argument %s\n", argv[1]);
        return std::nullopt;
    }
    if (options.port < 0 || options.port > 65535) {
        std::fprintf(stderr, "substitute-server: --port %d is no port\n", options.port);
        return std::nullopt;
    }
    return options;
}
