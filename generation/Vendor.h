#pragma once

// The vendor's contact values and the product version. The status bar, the notice
// caption, the broadcast list's trailer and `qzconfig --version` all read them from here.

#include <string_view>

namespace qz {

inline constexpr std::string_view ProductVersion = "1.03";
inline constexpr std::string_view VendorWebAddress = "www.kavrel.example";
inline constexpr std::string_view VendorSupportMail = "help@kavrel.example";
inline constexpr std::string_view VendorSocialAccount = "KavrelBLE";
inline constexpr std::string_view VendorMessagingNumber = "80012345";

// Caption of every notice box.
inline constexpr std::string_view NoticeCaption = VendorWebAddress;

} // namespace qz
