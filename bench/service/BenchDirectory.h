// The directory that the service benchmarks query: 1,000 users ("user0000" to "user0999") in 3
// of 100 groups each ("group0000" to "group0099"), each group reaching 20 of 200 authorized
// storage servers, and "nogroups", a user of no group; every password is "password". The same
// directory in every benchmark, so that their figures compare.
#pragma once

#include "core/COrvaneSrvCore.h"

#include <functional>
#include <string>
#include <vector>

namespace bench {

std::u16string U16(const std::string& text);
// The prefix followed by i in four digits.
std::string Name(const char* prefix, int i);

// The site directory's groups (DNs) that name group g; none when not given.
using DirectoryGroupsOf = std::function<std::vector<std::u16string>(int g)>;

// User u is in groups u, u + 33 and u + 66 (modulo 100).
void FillDirectory(COrvaneSrvCore& core, const DirectoryGroupsOf& directoryGroupsOf = {});

} // namespace bench
