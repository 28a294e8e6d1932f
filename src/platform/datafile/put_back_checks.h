// What the put-back of a dead run (run_put_back.cpp) needs from the opening of data files, given
// by the data files' own layer: whether this program has a data file open, and whether a file is
// a data file of a name. Asked for by an explicit call: an empty check refuses every put-back,
// saying why.
#pragma once

#include <functional>
#include <string>

namespace dz::xio {

struct PutBackChecks {
    // Whether this program has the data file open.
    std::function<bool(const std::string& dataFile)> openHere;
    // "" when `file` is a data file of the dictionary file named `name`; else why not.
    std::function<std::string(const std::string& file, const std::string& name)> notADataFileNamed;
};
PutBackChecks put_back_checks();

}  // namespace dz::xio
