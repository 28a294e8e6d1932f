#include "convert/converter.h"

#include "convert/texts.h"
#include "platform/datafile/xio.h"

namespace dz::convert {

bool xvConvert::OpenDataFile(const std::string& abbr, uint16_t fileNo, uint16_t fileCode, uint8_t flag,
                             OpenFilesList& list, uint16_t commandId, uint16_t& error, bool optional) {
    for (const auto& e : list)
        if (e.abbr == abbr && e.fileNo == fileNo && e.handle != 0) return true;

    xio_ask_request req;
    req.command = commandId;
    req.abbr = abbr.substr(0, 3);
    req.fileNo = fileNo;
    req.flag = flag;
    req.fileCode = fileCode;
    uint16_t handle = 0;
    const int status = xio_ask_file(req, handle);
    error = static_cast<uint16_t>(status);
    if (status == XIO_OK) {
        list.push_back({abbr, fileNo, handle});
        xio_start_writes(handle);
        return true;
    }
    if (optional) {
        error = XIO_OPTIONAL_ABSENT;
        return true;
    }
    list.push_back({abbr, fileNo, 0});
    return false;
}

void xvConvert::RecordIdText(uint16_t file, std::string& out, uint16_t record) {
    convert::RecordIdText(file, out, record);
}

void xvConvert::StripRecordId(std::string& text) { convert::StripRecordId(text); }

bool xvConvert::TimeStampTextFile(const std::string& textPath, NotesReport* notes, const std::string& usingText) {
    return convert::TimeStampTextFile(textPath, notes, usingText);
}

void xvConvert::AppendReasonCode(std::string& reason, int error) {
    static constexpr const char* kCodes[22] = {
        nullptr,  " (50)", " (50)", " (51)", " (52)", nullptr,  " (53)", " (54)",
        " (55)",  " (56)", " (57)", " (58)", " (59)", " (60)",  " (61)", nullptr,
        " (62)",  " (63)", nullptr, nullptr, " (64)", " (65)"};
    if (error >= 1 && error <= 21 && kCodes[error]) reason += kCodes[error];
}

}  // namespace dz::convert
