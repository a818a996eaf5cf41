#pragma once

#include <map>
#include <string>

// The text of a volume's ".kelvaneConfiguration": "&"-separated key=value pairs, with every
// "CONVELO_IND\n" marker removed first. Nothing is trimmed; a later key wins; a part with one
// piece or three or more carries no pair.
struct KelvaneConfiguration {
    std::map<std::string, std::string> pairs;
    bool hasParts = false;
    // Whether a part starts with each key the start-up acts on, pair or not.
    bool namesToken = false;
    bool namesDataCentre = false;
    bool namesJoinPath = false;

    static KelvaneConfiguration parse(std::string text);
};
