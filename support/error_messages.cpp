#include "support/error_messages.h"

namespace {

const char* const kLowCodes[] = {
    "请确保没有正在运行的Felto客户端后重新运行Felto.exe",                 // 10
    "请重新运行Felto.exe",                                                // 11
    "请运行Felto.exe开始游戏",                                            // 12
    "请运行Felto.exe开始游戏",                                            // 13
    "请运行Felto.exe开始游戏",                                            // 14
    "重新运行Felto.exe",                                                  // 15
    "LauncherManifest文件不存在,请重新运行Felto.exe",                     // 16
    "Felto更新失败，请重新运行Felto.exe",                                 // 17
    "Felto更新文件损坏，请重新运行Felto.exe",                             // 18
    "Felto覆盖失败，请重新运行Felto.exe，若问题仍然存在，请尝试重装微端", // 19
    "Felto重启失败，请手动运行Felto.exe",                                 // 20
    "释放文件失败，请重新运行Felto.exe",                                  // 21
};

const char* const kHighCodes[] = {
    "创建下载临时文件夹失败，请确保程序所在目录文件夹具有可写入权限",             // 100
    "下载失败，请重新运行Felto.exe",                                              // 101
    "更新时不能运行多个程序实例，请微端启动后再运行Felto.exe",                    // 102
    "删除LauncherManifest.js文件失败，请尝试手工删除该文件后再运行Felto.exe",     // 103
    "拷贝清单文件失败，请重新运行Felto.exe",                                      // 104
    "解析清单文件失败，请重新运行Felto.exe",                                      // 105
    "清单文件损坏，请重新运行Felto.exe",                                          // 106
    "打开清单文件失败，请重新运行Felto.exe",                                      // 107
    "下载失败，请重新运行Felto.exe",                                              // 108
    "启动失败，请重新运行Felto.exe",                                              // 109
    "删除FeltoLauncherConfig.cfg文件失败，请尝试手工删除该文件后再运行Felto.exe", // 110
    "下载失败，请重新运行Felto.exe",                                              // 111
    "拷贝配置文件文件失败，请重新运行Felto.exe",                                  // 112
};

} // namespace

const char* ErrorMessage(int code) {
    if (code >= 10 && code <= 21)
        return kLowCodes[code - 10];
    if (code >= 100 && code <= 112)
        return kHighCodes[code - 100];
    return "unknown";
}
