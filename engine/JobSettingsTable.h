#pragma once

// One row for each field of JobSettings: how pixquill-batch's command line
// gives it and how the worker protocol carries it. The options, their help
// and defaults, the reading of the command line and the settings' frames are
// all driven by these rows, so a new setting is its field and one row here.
// Pure data: safe from any thread.

#include <span>
#include <variant>
#include <vector>

#include <QString>

#include "engine/JobSettings.h"
#include "engine/OptionTables.h"

namespace pixquill {

// How a setting is given on the command line.
enum class SettingSyntax {
    Folder,  // a positional argument (SOURCE, DEST), required
    Text,    // --OPTION TEXT, kept as given
    Number,  // --OPTION N, kept as given once ReadNumberSetting takes it
    Choice,  // --OPTION NAME, one of the row's Choices (case ignored)
    Switch,  // --OPTION alone: true when given
    Quality, // --OPTION N, 1..100, only with a lossy output format; 0 when not given
    Sizes,   // --OPTION WxH, any number of times (ReadSizeList); one stands for the width and height
};

// The field a row stands for; its type is how the worker protocol carries it
// (a text, a 32-bit number, a truth value).
using SettingField = std::variant<QString JobSettings::*, int JobSettings::*, bool JobSettings::*>;

struct JobSettingRow {
    SettingField Field;
    const char* Option; // --OPTION; for a Folder, the positional argument's name
    SettingSyntax Syntax;
    const char* ValueName = nullptr; // "N", "TEXT": what the help calls the value
    // The help, without the default: the help of a Text or Number ends with
    // " (default X)." from JobSettings' own; a Choice's is its names (after
    // this, when given), a Quality's the lossy formats' defaults, both made
    // by the command line.
    const char* Help = nullptr;
    std::vector<NamedChoice> (*Choices)() = nullptr; // a Choice's names and values
};

// The rows in the order of JobSettings' fields, which is the order the worker
// protocol writes them in and the command line's help lists them in.
std::span<const JobSettingRow> JobSettingRows();

// The name of a choice's value; empty for a value no entry has.
QString ChoiceName(const std::vector<NamedChoice>& choices, int value);

} // namespace pixquill
