#include "store/io_status.h"

namespace vx::ini {

std::string DescribeIoStatus(const IoStatus& status) {
  switch (status.GetKind()) {
    case IoStatus::Kind::kOk:
      return std::string();
    case IoStatus::Kind::kSystem:
      return SystemErrorText(status.Code());
    case IoStatus::Kind::kTooLarge:
      return "文件有 " + std::to_string(status.Size()) + " 字节, 超过 " +
             std::to_string(kMaxProfileBytes / 1024 / 1024) + "MB 的上限, 不读取也不改写";
    case IoStatus::Kind::kNotAFile:
      return "这个名字不是一个普通文件";
    case IoStatus::Kind::kLockTimeout:
      return "另一个程序一直在写这个文件";
  }
  return std::string();
}

}  // namespace vx::ini
