// `nclaser classes`: the laser classes as the plug-in registers them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace nclaser::cli {

// The listing's lines, header first, in the registrations' order; Built says whether the
// class can be built (by the linked plug-in, or by a loaded one).
std::vector<std::string> ClassListing(const std::function<bool(const std::string&)>& Built);

} // namespace nclaser::cli
