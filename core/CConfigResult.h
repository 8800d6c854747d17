// What an export or an import reports to the operator: how it ended and the message box text.
#pragma once

#include <cstddef>
#include <string>

enum class EConfigStatus {
    Ok,
    CreateFailed, // "Failed to create a new Configuration File."
    OpenFailed,   // "Failed to open Configuration File."
    FormatError,  // an archive error; the message names the file
    WriteError,   // a file error while writing; the message names the file
    ReadError,    // a file error while reading; the message names the file
    SaveFailed,   // read, but the directory store could not be written: nothing was imported
};

// How many records a finished export wrote, or a finished import added and replaced.
struct CConfigCounts {
    std::size_t nUsers = 0; // written, or added
    std::size_t nGroups = 0;
    std::size_t nUsersReplaced = 0; // import only
    std::size_t nGroupsReplaced = 0;
};

struct CConfigResult {
    EConfigStatus status = EConfigStatus::Ok;
    std::u16string strMessage; // the text for the operator's message box; empty on success
    CConfigCounts counts;      // on success
};
