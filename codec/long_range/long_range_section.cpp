// The reference section (its layout is in long_range.h) and the copy step
// that rebuilds a block from it.
#include <algorithm>
#include <cstring>

#include "long_range.h"

namespace tav {

namespace {

void put_varint(std::vector<uint8_t>& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<uint8_t>(v));
}

// Reads the section's fields in order; the first fault sticks.
struct Reader {
  std::span<const uint8_t> s;
  size_t pos = 0;
  SectionDamage damage;
  size_t field = 0;  // offset of the field read last

  bool fail(SectionFault f, uint64_t offset) {
    damage = SectionDamage{f, offset};
    return false;
  }
  bool varint(uint64_t& v) {
    field = pos;
    v = 0;
    for (int i = 0; i < 10; ++i) {
      if (pos >= s.size()) return fail(SectionFault::cut_short, field);
      uint8_t b = s[pos++];
      if (i == 9 && b > 1) return fail(SectionFault::varint_too_long, field);
      v |= static_cast<uint64_t>(b & 0x7F) << (7 * i);
      if (!(b & 0x80)) return true;
    }
    return fail(SectionFault::varint_too_long, field);
  }
  size_t left() const { return s.size() - pos; }
};

// memcpy with a count of zero may meet the null pointer of an empty span.
void copy_bytes(uint8_t* dst, const uint8_t* src, uint64_t n) {
  if (n != 0) std::memcpy(dst, src, n);
}

}  // namespace

std::vector<uint8_t> write_section(std::span<const Reference> refs, uint64_t window_bytes,
                                   uint64_t text_bytes) {
  std::vector<uint8_t> out;
  out.reserve(8 + refs.size() * 6);
  out.push_back(LONG_RANGE_VERSION);
  put_varint(out, window_bytes);
  put_varint(out, refs.size());
  if (refs.empty()) return out;
  put_varint(out, text_bytes);
  uint64_t prev = 0;
  for (const Reference& r : refs) {
    put_varint(out, r.literals);
    put_varint(out, r.distance == prev ? 0 : r.distance);
    put_varint(out, r.length);
    prev = r.distance;
  }
  return out;
}

const char* describe(SectionFault f) {
  switch (f) {
    case SectionFault::none: return "";
    case SectionFault::cut_short: return "reference section cut short";
    case SectionFault::varint_too_long: return "number too long in the reference section";
    case SectionFault::bad_version: return "unsupported reference section";
    case SectionFault::bad_window: return "reference window out of range";
    case SectionFault::too_many_references: return "more references than the section holds";
    case SectionFault::no_previous_distance: return "repeated distance without a previous one";
    case SectionFault::distance_beyond_window: return "reference beyond the window";
    case SectionFault::distance_before_start: return "reference before the start of the text";
    case SectionFault::zero_length: return "reference of length 0";
    case SectionFault::length_past_block: return "reference past the end of the block";
    case SectionFault::literals_overrun: return "more literals than decoded";
    case SectionFault::literal_count_mismatch: return "literals and references do not add up";
    case SectionFault::trailing_bytes: return "bytes after the last reference";
  }
  return "unknown fault";
}

ParsedSection parse_section(std::span<const uint8_t> section, uint64_t literal_count,
                            uint64_t run_position) {
  ParsedSection p;
  Reader r;
  r.s = section;
  auto failed = [&]() {
    p.damage = r.damage;
    p.references.clear();
    return p;
  };
  if (section.empty()) {
    r.fail(SectionFault::cut_short, 0);
    return failed();
  }
  if (section[0] != LONG_RANGE_VERSION) {
    r.fail(SectionFault::bad_version, 0);
    return failed();
  }
  r.pos = 1;
  uint64_t count = 0;
  if (!r.varint(p.window_bytes)) return failed();
  if (p.window_bytes == 0 || p.window_bytes > LONG_RANGE_MAX_WINDOW) {
    r.fail(SectionFault::bad_window, r.field);
    return failed();
  }
  if (!r.varint(count)) return failed();
  if (count == 0) {
    p.text_bytes = literal_count;
    if (r.left() != 0) r.fail(SectionFault::trailing_bytes, r.pos);
    return r.damage.fault == SectionFault::none ? p : failed();
  }
  // text_bytes takes one byte at least, and each reference three.
  if (r.left() == 0 || count > (r.left() - 1) / 3) {
    r.fail(SectionFault::too_many_references, r.field);
    return failed();
  }
  if (!r.varint(p.text_bytes)) return failed();
  size_t text_field = r.field;
  p.references.reserve(count);
  uint64_t out_pos = 0;    // bytes of the block produced so far
  uint64_t lit_used = 0;   // literals taken so far
  uint64_t prev = 0;
  for (uint64_t i = 0; i < count; ++i) {
    Reference ref;
    if (!r.varint(ref.literals)) return failed();
    if (ref.literals > literal_count - lit_used) {
      r.fail(SectionFault::literals_overrun, r.field);
      return failed();
    }
    if (ref.literals > p.text_bytes - out_pos) {
      r.fail(SectionFault::literal_count_mismatch, r.field);
      return failed();
    }
    lit_used += ref.literals;
    out_pos += ref.literals;
    if (!r.varint(ref.distance)) return failed();
    if (ref.distance == 0) {
      if (prev == 0) {
        r.fail(SectionFault::no_previous_distance, r.field);
        return failed();
      }
      ref.distance = prev;
    }
    if (ref.distance > p.window_bytes) {
      r.fail(SectionFault::distance_beyond_window, r.field);
      return failed();
    }
    if (ref.distance > run_position + out_pos) {  // run_position + out_pos cannot overflow: both are text
      r.fail(SectionFault::distance_before_start, r.field);
      return failed();
    }
    prev = ref.distance;
    if (!r.varint(ref.length)) return failed();
    if (ref.length == 0) {
      r.fail(SectionFault::zero_length, r.field);
      return failed();
    }
    if (ref.length > p.text_bytes - out_pos) {
      r.fail(SectionFault::length_past_block, r.field);
      return failed();
    }
    out_pos += ref.length;
    p.references.push_back(ref);
  }
  if (literal_count - lit_used != p.text_bytes - out_pos) {
    r.fail(SectionFault::literal_count_mismatch, text_field);
    return failed();
  }
  if (r.left() != 0) {
    r.fail(SectionFault::trailing_bytes, r.pos);
    return failed();
  }
  return p;
}

bool rebuild_block(const ParsedSection& p, std::span<const uint8_t> literals,
                   std::vector<uint8_t>& text) {
  // Check every copy against the text actually held before writing a byte.
  uint64_t held = text.size();
  uint64_t pos = 0;
  uint64_t lit = 0;
  for (const Reference& r : p.references) {
    pos += r.literals;
    lit += r.literals;
    if (r.distance == 0 || r.distance > held + pos || lit > literals.size()) return false;
    pos += r.length;
  }
  if (literals.size() - lit != p.text_bytes - pos || pos > p.text_bytes) return false;

  text.resize(held + p.text_bytes);
  uint8_t* dst = text.data() + held;
  const uint8_t* src = literals.data();
  for (const Reference& r : p.references) {
    copy_bytes(dst, src, r.literals);
    dst += r.literals;
    src += r.literals;
    const uint8_t* from = dst - r.distance;
    if (r.distance >= r.length) {
      copy_bytes(dst, from, r.length);
    } else {
      for (uint64_t i = 0; i < r.length; ++i) dst[i] = from[i];  // repeats the last `distance` bytes
    }
    dst += r.length;
  }
  copy_bytes(dst, src, p.text_bytes - pos);
  return true;
}

LongRangeDecoder::Result LongRangeDecoder::decode_block(std::span<const uint8_t> section,
                                                        std::span<const uint8_t> literals) {
  Result res;
  ParsedSection p = parse_section(section, literals.size(), end_);
  // Every block of a run has the run's window, within this decoder's bound.
  if (p.damage.fault == SectionFault::none &&
      (p.window_bytes > max_window_ || (window_ != 0 && p.window_bytes != window_))) {
    p.damage = SectionDamage{SectionFault::bad_window, 1};
  }
  if (p.damage.fault != SectionFault::none) {
    res.damage = p.damage;
    return res;
  }
  // Keep the window before the block; drop the rest once it is worth a copy.
  uint64_t keep = std::min(end_ - base_, p.window_bytes);
  uint64_t drop = (end_ - base_) - keep;
  if (drop > 0 && drop >= std::max<uint64_t>(keep / 4, 1 << 20)) {
    text_.erase(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(drop));
    base_ += drop;
  }
  window_ = p.window_bytes;
  uint64_t before = text_.size();
  if (!rebuild_block(p, literals, text_)) {
    // parse_section checked against the run and the window; the text held
    // covers both, so this cannot happen.  Report it rather than trust it.
    res.damage = SectionDamage{SectionFault::distance_before_start, 0};
    return res;
  }
  end_ += p.text_bytes;
  res.text = std::span<const uint8_t>(text_).subspan(before);
  return res;
}

}  // namespace tav
