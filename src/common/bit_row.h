// A row of bits, one per haplotype: the ALT alleles of a marker. Eight
// times smaller than a byte per allele, which at a million haplotypes was
// most of a run's memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

class BitRow {
 public:
  BitRow() = default;
  explicit BitRow(std::size_t size) : words_((size + 63) / 64, 0), size_(size) {}
  BitRow(std::initializer_list<int> bits) {
    for (int bit : bits) push_back(bit != 0);
  }

  std::size_t size() const { return size_; }
  void reserve(std::size_t size) { words_.reserve((size + 63) / 64); }
  bool operator[](std::size_t h) const { return (words_[h / 64] >> (h % 64)) & 1; }
  bool back() const { return (*this)[size_ - 1]; }
  void push_back(bool bit) {
    if (size_ % 64 == 0) words_.push_back(0);
    Set(size_++, bit);
  }
  void Set(std::size_t h, bool bit) {
    const std::uint64_t mask = std::uint64_t{1} << (h % 64);
    words_[h / 64] = bit ? words_[h / 64] | mask : words_[h / 64] & ~mask;
  }
  // Bit h of the row is bit h % 64 of word h / 64; bits past the end are 0.
  const std::vector<std::uint64_t>& Words() const { return words_; }

 private:
  std::vector<std::uint64_t> words_;
  std::size_t size_ = 0;
};
