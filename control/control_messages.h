// The texts the command logic shows, byte for byte.
#pragma once

namespace vx::msg {

inline constexpr char kPortRange[] = "测试端口为（1-65535）之间!";
inline constexpr char kAddDuplicate[] = "添加的端口已经存在";
inline constexpr char kCapacityReached[] = "映射端口达到最大!";
inline constexpr char kModifyDuplicate[] = "修改的端口已经存在！";
inline constexpr char kPairExists[] = "端口对已经存在!";
inline constexpr char kSelectModifyRow[] = "请选择要修改的行!";
inline constexpr char kSelectDeleteRow[] = "请选择要删除的行!";
inline constexpr char kConfirmDelete[] = "此操作将不可恢复\n你确定要删除吗?\n";
// Followed by the reason, the system's own words where it has them.
inline constexpr char kSaveFailed[] = "保存 setting.ini 失败: ";
inline constexpr char kFileName[] = "setting.ini";

}  // namespace vx::msg
