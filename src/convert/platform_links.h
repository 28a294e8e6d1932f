// The suite services the converter core reaches, gathered behind one narrow seam so that the
// rest of the core reads like the converters that use it.
#pragma once

#include "platform/datafile/x_value.h"

#include <string>
#include <utility>

namespace dz::convert {

// Whether the module of that two-letter code ("GL", "PM", ...) is installed in the company.
bool ModuleInstalled(const std::string& code);
// The current operator's name; false when no operator with a name is set.
bool OperatorName(std::string& name);
// Today and now, from the suite's clock (tests fix it).
x_date_type Today();
x_time_type Now();
// Both from one reading of the clock, for a stamp (one made at midnight stays on one day).
std::pair<x_date_type, x_time_type> TodayAndNow();
// The framework's alphabetic date and time.
std::string AlphaDate(const x_date_type& date);
std::string AlphaTime(const x_time_type& time);
// Whole text to upper case.
void Capitalize(std::string& text);
// Initial capital on each word.
void InitCaps(std::string& text);
// Whether key format `format` is split into sections.
bool KeyFormatMultiSection(uint16_t format);
// A key value formatted by its key format (whole value).
std::string FormatKeyValue(uint16_t format, uint16_t section, const std::string& text);
// Trims and collapses blanks.
std::string MinimizeString(const std::string& text);
// A number as the suite shows it, with `decimals` implied decimals.
std::string AlphaNumber(double value, uint16_t decimals, uint16_t format);
// A new time-ordered identifier as text.
std::string NewKeyIdentifier();
// The folder that holds the data files of an abbreviation; empty when no company is open.
std::string DataFolderOf(const std::string& abbreviation);
// The module's country setting (AP, PR); 0 when unknown.
uint16_t ModuleCountry(const std::string& module);
// Custom description `number` (with its first letter as stored).
std::string CustomDescription(uint16_t number);
// Whether the run is in the background and is asked to end.
bool InBackground();
bool CheckTerminate();
// Writes a line to the framework's log.
void LogLine(const std::string& text);

// The warning shown before a conversion writes data whose entries an interface from `source`
// to `destination` would miss (turned on without entry creation). The application registers
// the window; true goes on. Without one registered, nothing is asked.
using InterfaceWarningFn = bool (*)(const std::string& source, const std::string& destination, int securityOption);
void SetInterfaceWarning(InterfaceWarningFn warning);
bool CheckInterfaceWarning(const std::string& source, const std::string& destination, int securityOption);

}  // namespace dz::convert
