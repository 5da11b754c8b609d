// A main window stand-in: records the list, the buttons and every box, and
// answers the editor and the notices from a script.
#pragma once

#include <array>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "control/mapping_view.h"

namespace vx::test {

struct NoticeRecord {
  std::string text;
  unsigned flags;
};

class TestView : public IMappingView {
 public:
  using Row = std::array<std::string, 4>;

  int InsertRowAtTop(const std::string& column0) override;
  void SetCellText(int row, int column, const std::string& text) override;
  std::string CellText(int row, int column) const override;
  void DeleteAllRows() override;
  int RowCount() const override { return static_cast<int>(rows.size()); }
  int SelectionMark() const override { return selection; }
  void EnableButton(MappingButton button, bool enable) override { buttons[button] = enable; }
  void ShowAppMessage(const std::string& text) override { appMessages.push_back(text); }
  int ShowNotice(const std::string& text, unsigned flags) override;
  bool RunEditor(MappingEntry& entry) override;
  void ShowInTray(bool hide) override { trayCalls.push_back(hide); }

  // Script: the editor's next answer (nullopt = Cancel), the next notice answer.
  void QueueEditor(std::optional<MappingEntry> answer) { editorAnswers.push_back(answer); }
  void QueueNotice(int answer) { noticeAnswers.push_back(answer); }

  bool Enabled(MappingButton b) const;
  // Columns 0..2 of every row, in row order.
  std::vector<MappingEntry> ListedPairs() const;
  void ClearMessages();

  std::vector<Row> rows;
  int selection = -1;
  std::map<MappingButton, bool> buttons;
  std::vector<std::string> appMessages;
  std::vector<NoticeRecord> notices;
  std::vector<MappingEntry> editorPresets;
  std::vector<bool> trayCalls;
  std::deque<std::optional<MappingEntry>> editorAnswers;
  std::deque<int> noticeAnswers;
};

}  // namespace vx::test
