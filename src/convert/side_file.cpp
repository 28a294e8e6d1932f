#include "convert/side_file.h"

#include "convert/texts.h"
#include "platform/datafile/xio.h"

namespace dz::convert {

uint16_t SideFile::Open(const OpenFilesList& list, const std::string& abbr, const std::string& name, uint16_t fileNo) {
    Close();
    handle_ = FindFileHandle(list, abbr, fileNo);
    if (handle_ == 0) {
        handle_ = name.empty() ? OpenMasterFile(abbr) : OpenDataFileByName(abbr, name);
        opened_ = handle_ != 0;
    }
    return handle_;
}

void SideFile::Close() {
    if (opened_ && handle_) (void)xio_cls_file(handle_);  // a read-only file: nothing to lose
    handle_ = 0;
    opened_ = false;
}

}  // namespace dz::convert
