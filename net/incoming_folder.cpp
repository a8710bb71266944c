#include "net/incoming_folder.h"

const std::string strIncomingDir = "incoming";

std::string IncomingFolder(const std::string& installDir) {
    return installDir + "/" + strIncomingDir;
}

std::string IncomingPath(const std::string& installDir, const std::string& name) {
    return IncomingFolder(installDir) + "/" + name;
}
