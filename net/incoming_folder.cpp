#include "net/incoming_folder.h"

#include "net/part_files.h"
#include "net/segment_record.h"
#include "platform/platform.h"
#include "support/log.h"

#include <cstdio>

const std::string strIncomingDir = "incoming";

std::string ChunkListFileName(const std::string& listMd5) {
    return listMd5 + ".chunklist";
}

std::string ChunkFileName(const std::string& chunkMd5) {
    return chunkMd5 + ".chunk";
}

std::string AssemblyFileName(const std::string& name) {
    return name + ".assembly";
}

std::string IncomingFolder(const std::string& installDir) {
    return installDir + "/" + strIncomingDir;
}

std::string IncomingPath(const std::string& installDir, const std::string& name) {
    return IncomingFolder(installDir) + "/" + name;
}

std::vector<std::string> DownloadFileNames(const std::string& name) {
    std::vector<std::string> names{name};
    for (int part = 0; part < kInstallerPartFiles; ++part)
        names.push_back(PartFileName(name, part));
    names.push_back(InPlaceFileName(name));
    names.push_back(SegmentRecordName(name));
    return names;
}

bool ClearEarlierDownload(const std::string& incomingPath) {
    std::vector<std::string> files = DownloadFileNames(incomingPath);
    if (platform::QueryPath(files[0]) == platform::PathKind::File &&
        std::remove(files[0].c_str()) != 0) {
        WriteLogErrno("call remove faild!");
        return false;
    }
    // A part that stays is thrown away by the download itself when it cannot belong to it.
    for (std::size_t i = 1; i < files.size(); ++i) {
        if (platform::QueryPath(files[i]) == platform::PathKind::File)
            platform::RemoveFile(files[i]);
    }
    return true;
}
