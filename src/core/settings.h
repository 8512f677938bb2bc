// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace quillbox {

/// The live settings: the fifteen keys of section "Options", as the options dialog shows them.
/// There is one object per program run; every reader asks it at the moment of use and the
/// options dialog edits it in place. Check boxes hold their state: 0 cleared, 1 ticked, 2 greyed.
/// The initial values are those of the dialog before any load.
struct Settings {
    int UseDate = 0;
    int UseFrom = 0;
    int UseSubject = 0;
    int UseFnDate = 0;
    int UseFnFrom = 0;
    int UseFnSubject = 0;
    int UseFnFolder = 0;
    QString DateFormat;
    QString TextFormat;
    QString FnFormat;
    QString Since;
    QString Before;
    QString ClipAddress;
    QString ClipSubject;
    QString FnOutput = QStringLiteral("MSG");
};

} // namespace quillbox
