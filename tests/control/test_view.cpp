#include "tests/control/test_view.h"

#include <gtest/gtest.h>

namespace vx::test {

int TestView::InsertRowAtTop(const std::string& column0) {
  Row row;
  row[0] = column0;
  rows.insert(rows.begin(), row);
  return 0;
}

void TestView::SetCellText(int row, int column, const std::string& text) {
  // Like SetItemText: a row or column that does not exist is no error.
  if (row < 0 || row >= RowCount() || column < 0 || column > 3)
    return;
  rows[row][column] = text;
}

std::string TestView::CellText(int row, int column) const {
  if (row < 0 || row >= RowCount() || column < 0 || column > 3)
    return {};
  return rows[row][column];
}

void TestView::DeleteAllRows() {
  rows.clear();
  selection = -1;  // the list view drops its selection mark with the rows
}

int TestView::ShowNotice(const std::string& text, unsigned flags) {
  notices.push_back({text, flags});
  if (noticeAnswers.empty()) {
    ADD_FAILURE() << "unscripted notice: " << text;
    return kIdNo;
  }
  const int answer = noticeAnswers.front();
  noticeAnswers.pop_front();
  return answer;
}

bool TestView::RunEditor(MappingEntry& entry) {
  editorPresets.push_back(entry);
  if (editorAnswers.empty()) {
    ADD_FAILURE() << "unscripted editor";
    return false;
  }
  const std::optional<MappingEntry> answer = editorAnswers.front();
  editorAnswers.pop_front();
  if (!answer)
    return false;
  entry = *answer;
  return true;
}

bool TestView::Enabled(MappingButton b) const {
  auto it = buttons.find(b);
  return it != buttons.end() && it->second;
}

std::vector<MappingEntry> TestView::ListedPairs() const {
  std::vector<MappingEntry> out;
  for (const Row& r : rows)
    out.push_back({r[0], r[1], r[2]});
  return out;
}

void TestView::ClearMessages() {
  appMessages.clear();
  notices.clear();
  editorPresets.clear();
}

}  // namespace vx::test
