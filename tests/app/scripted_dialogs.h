// Dialogs that replay a script, linked by the batch and conversion test programs in place of the
// system's: the file dialog hands out `files` one by one, the folder browser `folder`.
#pragma once

#include <string>
#include <vector>

struct DialogScript {
    std::vector<std::string> files; // the selection, in the order the file dialog delivers it
    size_t next = 0;
    std::string folder;             // "" = the folder browser is cancelled
    std::vector<std::string> calls; // "open", "folder", "next" and "message", in the order asked
    std::vector<std::string> openArguments, folderArguments;
    std::vector<std::string> messages; // title, text and flags of each message shown
};

extern DialogScript Dialogs;
