#include <gtest/gtest.h>

#include "ui/texts.h"

// Every text the player can see, letter for letter: a slip in a diacritic would otherwise only show
// on screen. The sources are UTF-8 and both compilers must read them so; the first row, spelled by
// code point, fails when one does not.
TEST(Texts, CatalogueIsExact) {
  struct Row {
    const std::wstring& text;
    const wchar_t* expected;
  };
  const Row rows[] = {
      {texts::Initialising, L"\u0110ang kh\u1EDFi t\u1EA1o ch\u01B0\u01A1ng tr\u00ECnh"},
      {texts::WaitingForGameToClose, L"Đang đợi đóng tiến trình trò chơi"},
      {texts::CheckingLauncher, L"Đang xác minh trình khởi chạy có cần cập nhật không"},
      {texts::UpdatingLauncher, L"Đang cập nhật trình khởi chạy"},
      {texts::LauncherUpdateFailed, L"Cập nhật chương trình thất bại, vui lòng khởi động lại và thử lại"},
      {texts::CheckingVersion, L"Đang xác minh xem phiên bản có cần được cập nhật hay không"},
      {texts::CannotVerify, L"Tạm thời không thể xác minh bản cập nhật, vui lòng khởi động lại trò chơi để tiếp tục "
       L"xác minh!"},
      {texts::PermissionProblem, L"Quyền đọc và ghi tệp không bình thường, vui lòng khởi động lại và thử lại!"},
      {texts::DownloadFailed, L"Không thể tải xuống tệp từ xa, vui lòng khởi động lại và thử lại!"},
      {texts::VerifyingGame, L"Đang xác minh tính toàn vẹn của trò chơi"},
      {texts::MoveFailed, L"Di chuyển tệp không thành công, vui lòng khởi động lại trình khởi chạy và thử lại!"},
      {texts::Arranging, L"Đang tiến hành sắp xếp tài nguyên, nếu bị đứng quá lâu, có thể khởi động lại trình khởi "
       L"chạy"},
      {texts::Renaming, L"Đang tiến hành đổi tên"},
      {texts::FindingPackages, L"Đang tìm tệp gói hoàn chỉnh bản địa"},
      {texts::UnzipFailed, L"Không giải nén được, vui lòng kiểm tra quyền đọc và ghi của tệp cục bộ và khởi động lại "
       L"trình khởi chạy"},
      {texts::UpdateDone, L"Cập nhật hoàn tất"},
      {texts::DeleteFailed, L"Xóa file thất bại, hãy thử xóa file bằng cách thủ công rồi khởi động lại trình khởi "
       L"chạy, đường dẫn của file sẽ bị xóa : "},
      {texts::VersionTemplate, L"Version: Vx.x.x/Vy.y.y"},
      {texts::UpdatingExtensions, L"Đang cập nhật phần mở rộng"},
      {texts::DownloadingPackage, L"Đang tải xuống toàn bộ gói"},
      {texts::Extracting, L"Đang giải nén"},
      {texts::Speed, L"tốc độ"},
      {texts::NetworkInterrupted, L"Đã phát hiện ngắt kết nối mạng bất thường, đang cố gắng kết nối lại"},
      {texts::GameCannotStart, L"Không thể bắt đầu trò chơi (thử khởi động lại trình khởi động)"},
      {texts::GameNotFound, L"Không thể tìm thấy tệp khởi động trò chơi, vui lòng kiểm tra đường dẫn trò chơi (thử "
       L"khởi động lại trình khởi chạy)"},
      {texts::ErrorCaption, L"Lỗi!"},
      {texts::NotResponding, L"Quá trình khởi chạy không phản hồi, vui lòng đóng quá trình nền theo cách thủ công "
       L"thông qua trình quản lý tác vụ và thử lại!"},
      {texts::BackgroundTitle, L"Tải ở chế độ nền"},
      {texts::BackgroundText, L"Trình khởi chạy sẽ tiếp tục tải xuống ở chế độ nền, bạn có thể nhấp chuột phải vào "
       L"biểu tượng nhỏ trong giao diện hệ thống để đóng"},
      {texts::TrayTip, L"Trình tải trò chơi Lạc Phong Ký MAX"},
      {texts::CloseSettings, L"Đóng cài đặt"},
      {texts::Minimise, L"Thu nhỏ"},
      {texts::Exit, L"Thoát"},
      {texts::RestoreWindow, L"Khôi phục giao diện chính"},
  };
  for (const Row& row : rows) EXPECT_EQ(row.text, row.expected);
}
