// A metric table: integer counters in rows keyed by a text (a peer, a queue, a check type) and
// in fixed columns, for counts whose set of keys is only known at run time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "meter/object.h"

namespace meter {

class Table : public Object {
 public:
  struct Column {
    std::string name;
    std::string unit;
    std::string desc;
  };

  // Two columns of one name are an assertion.
  Table(Group* parent, std::string name, std::vector<Column> columns);

  const std::vector<Column>& columns() const { return columns_; }
  // The index of the column of that name, or columns().size().
  size_t column(const std::string& name) const;

  // Rows are made with every cell 0 on first use. A column index out of range is an
  // assertion.
  void add(const std::string& row, size_t column, uint64_t delta = 1);
  void set(const std::string& row, size_t column, uint64_t value);
  uint64_t get(const std::string& row, size_t column) const;
  void removeRow(const std::string& row) { rows_.erase(row); }
  const std::map<std::string, std::vector<uint64_t>>& rows() const { return rows_; }

 private:
  std::vector<uint64_t>& cells(const std::string& row, size_t column);

  std::vector<Column> columns_;
  std::map<std::string, std::vector<uint64_t>> rows_;
};

}  // namespace meter
