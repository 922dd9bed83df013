// Every text the launcher shows the player, in Vietnamese. Assigned whole to the status line
// (sometimes followed by a technical suffix); never changed at run time.
#pragma once

#include <string>

namespace texts {

inline const std::wstring Initialising = L"Đang khởi tạo chương trình";
inline const std::wstring WaitingForGameToClose = L"Đang đợi đóng tiến trình trò chơi";
inline const std::wstring CheckingLauncher = L"Đang xác minh trình khởi chạy có cần cập nhật không";
inline const std::wstring UpdatingLauncher = L"Đang cập nhật trình khởi chạy";
inline const std::wstring LauncherUpdateFailed = L"Cập nhật chương trình thất bại, vui lòng khởi động lại và thử lại";
inline const std::wstring CheckingVersion = L"Đang xác minh xem phiên bản có cần được cập nhật hay không";
inline const std::wstring CannotVerify =
    L"Tạm thời không thể xác minh bản cập nhật, vui lòng khởi động lại trò chơi để tiếp tục xác minh!";
// Signed releases only: the manifest is missing, wrongly signed or older than the installed
// release, or what the server sent does not match it.
inline const std::wstring ReleaseNotVerified =
    L"Không thể xác thực bản cập nhật (chữ ký hoặc nội dung không hợp lệ), vui lòng khởi động lại và thử lại sau!";
// Signed releases only: every manifest the server offered has expired, or the computer's clock is
// far ahead.
inline const std::wstring ReleaseExpired =
    L"Bản cập nhật đã hết hạn xác thực, vui lòng kiểm tra ngày giờ của máy tính rồi khởi động lại!";
inline const std::wstring PermissionProblem =
    L"Quyền đọc và ghi tệp không bình thường, vui lòng khởi động lại và thử lại!";
inline const std::wstring DownloadFailed = L"Không thể tải xuống tệp từ xa, vui lòng khởi động lại và thử lại!";
inline const std::wstring VerifyingGame = L"Đang xác minh tính toàn vẹn của trò chơi";
inline const std::wstring MoveFailed =
    L"Di chuyển tệp không thành công, vui lòng khởi động lại trình khởi chạy và thử lại!";
inline const std::wstring Arranging =
    L"Đang tiến hành sắp xếp tài nguyên, nếu bị đứng quá lâu, có thể khởi động lại trình khởi chạy";
inline const std::wstring Renaming = L"Đang tiến hành đổi tên";
inline const std::wstring FindingPackages = L"Đang tìm tệp gói hoàn chỉnh bản địa";
inline const std::wstring UnzipFailed =
    L"Không giải nén được, vui lòng kiểm tra quyền đọc và ghi của tệp cục bộ và khởi động lại trình khởi chạy";
inline const std::wstring UpdateDone = L"Cập nhật hoàn tất";
inline const std::wstring DeleteFailed =
    L"Xóa file thất bại, hãy thử xóa file bằng cách thủ công rồi khởi động lại trình khởi chạy, "
    L"đường dẫn của file sẽ bị xóa : ";
inline const std::wstring VersionTemplate = L"Version: Vx.x.x/Vy.y.y";
inline const std::wstring UpdatingExtensions = L"Đang cập nhật phần mở rộng";
inline const std::wstring DownloadingPackage = L"Đang tải xuống toàn bộ gói";
inline const std::wstring Extracting = L"Đang giải nén";
inline const std::wstring Speed = L"tốc độ";
inline const std::wstring NetworkInterrupted =
    L"Đã phát hiện ngắt kết nối mạng bất thường, đang cố gắng kết nối lại";
inline const std::wstring GameCannotStart = L"Không thể bắt đầu trò chơi (thử khởi động lại trình khởi động)";
inline const std::wstring GameNotFound =
    L"Không thể tìm thấy tệp khởi động trò chơi, vui lòng kiểm tra đường dẫn trò chơi (thử khởi động lại trình "
    L"khởi chạy)";
inline const std::wstring ErrorCaption = L"Lỗi!";
inline const std::wstring NotResponding =
    L"Quá trình khởi chạy không phản hồi, vui lòng đóng quá trình nền theo cách thủ công thông qua trình quản lý "
    L"tác vụ và thử lại!";
inline const std::wstring BackgroundTitle = L"Tải ở chế độ nền";
inline const std::wstring BackgroundText =
    L"Trình khởi chạy sẽ tiếp tục tải xuống ở chế độ nền, bạn có thể nhấp chuột phải vào biểu tượng nhỏ trong "
    L"giao diện hệ thống để đóng";
inline const std::wstring TrayTip = L"Trình tải trò chơi Lạc Phong Ký MAX";
inline const std::wstring CloseSettings = L"Đóng cài đặt";
inline const std::wstring Minimise = L"Thu nhỏ";
inline const std::wstring Exit = L"Thoát";
inline const std::wstring RestoreWindow = L"Khôi phục giao diện chính";

}  // namespace texts
