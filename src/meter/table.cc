#include "meter/table.h"

#include "error/assert.h"

namespace meter {

Table::Table(Group* parent, std::string name, std::vector<Column> columns)
    : Object(parent, std::move(name), Kind::Table), columns_(std::move(columns)) {
  for (size_t i = 0; i < columns_.size(); ++i) {
    VX_ASSERT(column(columns_[i].name) == i,
              "Attempt to add duplicate metric name: ", columns_[i].name);
  }
}

size_t Table::column(const std::string& name) const {
  size_t i = 0;
  while (i < columns_.size() && columns_[i].name != name)
    ++i;
  return i;
}

std::vector<uint64_t>& Table::cells(const std::string& row, size_t column) {
  VX_ASSERT(column < columns_.size(), "Column ", column, " out of range in metric table ", name());
  std::vector<uint64_t>& cells = rows_[row];
  cells.resize(columns_.size());
  return cells;
}

void Table::add(const std::string& row, size_t column, uint64_t delta) {
  cells(row, column)[column] += delta;
}

void Table::set(const std::string& row, size_t column, uint64_t value) {
  cells(row, column)[column] = value;
}

uint64_t Table::get(const std::string& row, size_t column) const {
  VX_ASSERT(column < columns_.size(), "Column ", column, " out of range in metric table ", name());
  auto it = rows_.find(row);
  return it == rows_.end() ? 0 : it->second[column];
}

}  // namespace meter
