// Who makes the plug-ins, as the formats' descriptions name the maker.
#pragma once

namespace plugin {

inline constexpr char kVendor[] = "Kelmo";
inline constexpr char kVendorHomepage[] = "https://bytone.com/";
inline constexpr char kVendorMail[] = "support@bytone.com";

}  // namespace plugin
