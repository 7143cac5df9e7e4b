#include "driver/run_context.h"

#include "base/file.h"

void PackageWork::Clear() {
  for (ByteBuffer* buffer : All()) buffer->resize(0);
}

std::array<ByteBuffer*, 9> PackageWork::All() {
  return {&oldIndexTable, &oldEntryTable, &newEntryTable, &inflated, &deflated,
          &newDataArea,   &replacingFile, &replacingMeta, &idBlock};
}

RunContext::RunContext() { userPackage.Assign("user_dlc"); }

RunContext::~RunContext() {
  if (tempFile != kNoFile) {
    close_file(tempFile);
    tempFile = kNoFile;
    sys_delete_file(tempPath.Text());
  }
}
