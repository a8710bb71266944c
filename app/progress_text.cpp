#include "app/progress_text.h"

#include "support/format.h"

#include <algorithm>

const char* const kProgressTitle = "Felto";
const char* const kCancelButtonText = "取消";
const char* const kCancelQuestion = "确定要取消安装吗？已下载的部分会保留，下次运行时继续。";

std::string ByteCountText(std::int64_t bytes) {
    if (bytes < 1024)
        return FormatString("%lld B", static_cast<long long>(bytes));
    if (bytes < 1024 * 1024)
        return FormatString("%lld KB", static_cast<long long>(bytes / 1024));
    if (bytes < 1024LL * 1024 * 1024)
        return FormatString("%.1f MB", static_cast<double>(bytes) / (1024 * 1024));
    return FormatString("%.2f GB", static_cast<double>(bytes) / (1024.0 * 1024 * 1024));
}

namespace {

std::string DownloadText(const ProgressView& view) {
    int current = std::min(view.filesDone + 1, view.filesTotal);
    std::string text =
        FormatString("正在下载 %s（%d/%d）", view.name.c_str(), current, view.filesTotal);
    if (view.bytesTotal > 0)
        text +=
            FormatString("  %s / %s%s", ByteCountText(view.bytesDone).c_str(),
                         view.bytesEstimated ? "约 " : "", ByteCountText(view.bytesTotal).c_str());
    if (view.bytesPerSecond > 0)
        text += FormatString("  %s/s", ByteCountText(view.bytesPerSecond).c_str());
    if (view.etaSeconds >= 60)
        text += FormatString("  剩余 %d 分 %d 秒", view.etaSeconds / 60, view.etaSeconds % 60);
    else if (view.etaSeconds >= 0 && view.bytesPerSecond > 0)
        text += FormatString("  剩余 %d 秒", view.etaSeconds);
    return text;
}

} // namespace

std::string ProgressStatusText(const ProgressView& view) {
    if (view.retrySeconds > 0)
        return FormatString("下载失败，%d 秒后重试…", view.retrySeconds);
    switch (view.step) {
    case ProgressStep::Connecting:
        return "正在连接服务器，获取文件列表…";
    case ProgressStep::Checking:
        return FormatString("正在检查已安装的文件（%d/%d）", view.done, view.total);
    case ProgressStep::Downloading:
        return DownloadText(view);
    case ProgressStep::Unpacking:
        return FormatString("正在解压 %s（%d/%d）", view.name.c_str(), view.done, view.total);
    case ProgressStep::Copying:
        return FormatString("正在复制文件（%d/%d）", view.done, view.total);
    case ProgressStep::Starting:
        return "正在启动游戏…";
    }
    return std::string();
}
