// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace quillbox {

/// The live settings: the eighteen keys of section "Options", as the options dialog shows them.
/// There is one object per program run; every reader asks it at the moment of use and the
/// options dialog edits it in place. Check boxes hold their state: 0 cleared, 1 ticked, 2 greyed.
/// The initial values are those of the dialog before any load.
struct Settings {
    int useDate = 0;
    int useFrom = 0;
    int useSubject = 0;
    int useFnDate = 0;
    int useFnFrom = 0;
    int useFnSubject = 0;
    int useFnFolder = 0;
    QString dateFormat;
    QString textFormat;
    QString fnFormat;
    QString since;
    QString before;
    QString clipAddress;
    QString clipSubject;
    QString fnOutput = QStringLiteral("MSG");
    // Archiving across runs, each off unless asked for.
    int skipSaved = 0; ///< mails the destination's manifest records as saved, whole, are not written again
    int writeIndex = 0; ///< the manifest and index.csv are kept (implied by skipSaved)
    int setFileTimes = 0; ///< each mail's files and directories are dated like the mail
};

} // namespace quillbox
