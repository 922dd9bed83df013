#include <gtest/gtest.h>

#include "ui/texts.h"

// The sources are UTF-8; both compilers must read them so, or the diacritics break.
TEST(Texts, DiacriticsSurviveCompilation) {
  const std::wstring& initialising = texts::Initialising;  // "Đang khởi tạo chương trình"
  ASSERT_EQ(initialising.size(), 26u);
  EXPECT_EQ(static_cast<uint32_t>(initialising[0]), 0x0110u);   // Đ
  EXPECT_EQ(static_cast<uint32_t>(initialising[7]), 0x1EDFu);   // ở
  EXPECT_EQ(static_cast<uint32_t>(initialising[11]), 0x1EA1u);  // ạ
  EXPECT_EQ(static_cast<uint32_t>(initialising[16]), 0x01B0u);  // ư
  EXPECT_EQ(static_cast<uint32_t>(initialising[17]), 0x01A1u);  // ơ
  EXPECT_EQ(static_cast<uint32_t>(texts::Speed[1]), 0x1ED1u);   // "tốc độ": ố
  EXPECT_EQ(texts::ErrorCaption, std::wstring(L"L\u1ED7i!"));
  // The delete message ends in a colon and a blank, so the path follows after exactly one blank.
  const std::wstring& del = texts::DeleteFailed;
  EXPECT_EQ(del.substr(del.size() - 3), L" : ");
  EXPECT_EQ(texts::TrayTip, L"Tr\u00ECnh t\u1EA3i tr\u00F2 ch\u01A1i L\u1EA1c Phong K\u00FD MAX");
}
