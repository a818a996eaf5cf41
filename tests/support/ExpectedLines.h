#pragma once

// The log lines that are themselves a requirement: support follows a run by them, so their
// wording and their order are kept. Each run is one table of the lines it must write, in the
// order it writes them; other lines may come between. Tests of what a run does check files,
// requests and processes first and use these tables only for what the log itself must say.

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace expectedLines {

using Lines = std::vector<std::string>;

// The first start of an installed copy at `bundle` of `version`, and its exit with no update.
inline Lines firstStartAndExit(const std::string& bundle, const std::string& version) {
    return {
        "+[Utils createKelvaneDirectoriesWithLogHandler:] : ************* Orvo Kelvane App Started "
        "************ \n",
        "+[Utils createConveloNativeFolder] Convelo Native Folder Created...",
        "+[Utils createOrvoKelvaneNativeFolder] Orvo Kelvane Native Folder Created...",
        "+[Utils parseCommandLineArgs] ******* Orvo Tendrra Kelvane App Invoked By User.",
        "+[Utils findCurrentAppPath] Orvo Kelvane App path : " + bundle + "\n",
        "+[Utils getOrvoKelvaneAppVersion] local Orvo Tendra Kelvane App version : " + version +
            "\n",
        "+[Utils updateKelvaneIfNeeded] There is No Updated App downloaded from server.",
        "+[Utils updateKelvaneIfNeeded] : ************************** Orvo Kelvane App terminated "
        "******* \n\n",
    };
}

// A join that needs the agent, from the choice to the detached volume.
inline const Lines kAgentInstall = {
    "-[OrvoAppUpgrader orvoAppUpdater] : Updated Orvo App Version Available in Server..",
    "-[OrvoAppUpgrader modifyOrvoJoinDetails] : Modify joindetails called!",
    "-[OrvoAppUpgrader modifyOrvoJoinDetails] : Orvo Joindetails Content : Session key=",
    "-[OrvoAppUpgrader modifyOrvoJoinDetails] : New orvojoindetails.conf file has been created by "
    "Kelvane in folder ",
    "-[OrvoDmgDownloader startDownLoadingOrvoMacDmg] : Orvo Dmg Url : https://",
    "-[OrvoDmgDownloader startDownLoadingOrvoMacDmg] : System version details ",
    "-[OrvoDmgDownloader startDownLoadingOrvoMacDmg] : System version : ",
    "-[OrvoDmgDownloader startDownLoadingOrvoMacDmg]_block_invoke : Download finished successfully",
    "-[OrvoDmgDownloader mountingOrvoMacDmg] : dmg mount task termination status : 0",
    "-[OrvoDmgDownloader copyAppFileAndLaunch] : Orvo.app file copied",
    "-[OrvoDmgDownloader workspaceLaunchApplication:] : LaunchApplication: Orvo.app launched "
    "successfully with args : (\n    \"-timestamps\",\n",
    "-[OrvoDmgDownloader copyAppFileAndLaunch] : App Path : ",
    "/Orvo.app orvo app file launched!",
    "-[OrvoDmgDownloader copyAppFileAndLaunch] : Vellisk file copied",
    "-[OrvoDmgDownloader copyAppFileAndLaunch] : Quendar file copied",
    "-[OrvoDmgDownloader copyAppFileAndLaunch] :Brakkon file copied",
    "-[OrvoDmgDownloader copyAppFileAndLaunch] :Fenwyl file copied",
    "-[OrvoDmgDownloader copyAppFileAndLaunch] :Sardane file copied",
    "-[OrvoDmgDownloader copyAppFileAndLaunch] :Holmir file copied",
    // Detached by the copy step, and once more by the mount step after it.
    "-[OrvoDmgDownloader unMountingOrvoMacDmg] : Dmg unmount task termination status : 0",
    "-[OrvoDmgDownloader unMountingOrvoMacDmg] : Dmg unmount task termination status : ",
};

// A download that takes over the bytes of a broken earlier one says so before anything else.
inline const Lines kAgentDownloadContinued = {
    "-[OrvoDmgDownloader startDownLoadingOrvoMacDmg] : Orvo Dmg Url : https://",
    "-[OrvoDmgDownloader startDownLoadingOrvoMacDmg]_block_invoke : Download continued from byte ",
    "-[OrvoDmgDownloader startDownLoadingOrvoMacDmg]_block_invoke : Download finished successfully",
};

inline const Lines kAgentDownloadFailed = {
    "-[OrvoDmgDownloader startDownLoadingOrvoMacDmg] : Orvo Dmg Url : https://",
    "-[OrvoDmgDownloader startDownLoadingOrvoMacDmg]_block_invoke : Download failed! Error - ",
    "-[OrvoDmgDownloader startDownLoadingOrvoMacDmg]_block_invoke : Download failed! Whole Error "
    "- ",
};

// A join whose agent is current: only the launch.
inline const Lines kAgentLaunchOnly = {
    "-[OrvoAppUpgrader orvoAppUpdater] : This mac has latest Orvo App",
    "-[OrvoAppUpgrader modifyOrvoJoinDetails] : Modify joindetails called!",
    "-[OrvoDmgDownloader workspaceLaunchApplication:] : LaunchApplication: Orvo.app launched "
    "successfully with args : ",
};

// A newer build of this application staged, from its download to the detached volume.
inline const Lines kStaging = {
    "+[OrvoKelvaneUpdater getInstance] : Update Info Object Allocated",
    "-[OrvoKelvaneUpdater downloadKelvanedmg] : Orvo Kelvane Dmg Url : https://",
    "-[OrvoKelvaneUpdater downloadKelvanedmg]_block_invoke : Download finished successfully",
    "-[OrvoKelvaneUpdater copyAppFile] : No Existing Updated Orvo Kelvane Present in folder ",
    "-[OrvoKelvaneUpdater copyAppFile] : Orvo Tendra Kelvane.app file copied to  OrvoKelvaneNative "
    "folder",
    "-[OrvoKelvaneUpdater unMountingOrvoKelvaneDmg] : Dmg unmount task termination status : 0",
};

// The staging run's first failure line ends with the address and a space.
inline const Lines kStagingDownloadFailed = {
    "-[OrvoKelvaneUpdater downloadKelvanedmg] : Orvo Kelvane Dmg Url : https://",
    "-[OrvoKelvaneUpdater downloadKelvanedmg]_block_invoke : Download failed! Error - ",
    "/agent/OrvoTendraKelvane.dmg \n",
    "-[OrvoKelvaneUpdater downloadKelvanedmg]_block_invoke : Download failed! Whole Error - ",
};

}  // namespace expectedLines

// Succeeds when `log` holds every line of `lines`, each after the one before.
inline ::testing::AssertionResult logHasLinesInOrder(const std::string& log,
                                                     const expectedLines::Lines& lines) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::size_t at = log.find(lines[i], from);
        if (at == std::string::npos) {
            auto failure = ::testing::AssertionFailure()
                           << "line " << i + 1 << " of " << lines.size()
                           << " is missing or out of order: \"" << lines[i] << "\"";
            if (log.find(lines[i]) != std::string::npos) failure << " (it comes earlier)";
            return failure << "\n--- the log ---\n" << log;
        }
        from = at + lines[i].size();
    }
    return ::testing::AssertionSuccess();
}
