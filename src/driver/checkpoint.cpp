#include "driver/checkpoint.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "io/binary_record.h"
#include "io/content_hash.h"
#include "io/errors.h"
#include "io/string_conversion.h"

namespace fs = std::filesystem;

namespace {

constexpr char tag[8] = {'a', 'l', 'n', 'c', 'k', 'p', 't', '\n'};
// Raise with every change of the fields or their order. The first fields
// (iteration, seed, k_max, thin) keep their place in every version:
// alnsummarize reads --thin from them.
constexpr std::uint32_t format_version = 3;
constexpr std::size_t header_bytes = sizeof(tag) + sizeof(std::uint32_t);
constexpr std::size_t checksum_bytes = sizeof(std::uint64_t);

const char* const input_names[3] = {"tree file", "leaf map", "data file"};

void put_tunings(BinaryWriter& out, const std::vector<RateSampler::Tuning>& tunings) {
  out.put<std::uint64_t>(tunings.size());
  for (const auto& t : tunings) {
    out.put(t.step_size);
    out.put(t.adjustment_factor);
    out.put(t.lower_step_bound);
    out.put(t.upper_step_bound);
    out.put(t.acceptance_rate);
    out.put_vector(t.acceptance_window);
  }
}

std::vector<RateSampler::Tuning> get_tunings(BinaryReader& in) {
  const auto count = in.get<std::uint64_t>();
  if (count > 64) throw std::runtime_error("implausible number of rate samplers");
  std::vector<RateSampler::Tuning> tunings(count);
  for (auto& t : tunings) {
    t.step_size = in.get<double>();
    t.adjustment_factor = in.get<double>();
    t.lower_step_bound = in.get<double>();
    t.upper_step_bound = in.get<double>();
    t.acceptance_rate = in.get<double>();
    t.acceptance_window = in.get_vector<double>();
  }
  return tunings;
}

bool get_flag(BinaryReader& in) {
  const auto flag = in.get<std::uint8_t>();
  if (flag > 1) throw std::runtime_error("a flag that is neither 0 nor 1");
  return flag == 1;
}

Checkpoint decode_fields(BinaryReader& in) {
  Checkpoint c;
  c.iteration = in.get<std::int64_t>();
  c.seed = in.get<std::uint32_t>();
  c.k_max = in.get<std::int64_t>();
  c.thin = in.get<std::int64_t>();
  c.write_ancestors = get_flag(in);
  c.marginal_rate_moves = in.get<std::int64_t>();
  c.data_file = in.get_text();
  for (auto& hash : c.input_hashes) hash = in.get<std::uint64_t>();
  for (auto& size : c.run_file_sizes) size = in.get<std::uint64_t>();
  c.generator = in.get<GeneratorState>();
  c.deletion_rates = in.get_vector<double>();
  c.insertion_rates = in.get_vector<double>();
  c.mutation_rates = in.get_vector<double>();
  c.column_rate_states = in.get_vector<int>();
  c.deletion_tunings = get_tunings(in);
  c.mutation_tunings = get_tunings(in);
  c.marginal_tuning = in.get_vector<double>();
  c.node_states = in.get_vector<NodeState>();
  return c;
}

bool all_finite(const std::vector<double>& values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

bool plausible_tunings(const std::vector<RateSampler::Tuning>& tunings) {
  return std::all_of(tunings.begin(), tunings.end(), [](const RateSampler::Tuning& t) {
    return all_finite({t.step_size, t.adjustment_factor, t.lower_step_bound, t.upper_step_bound, t.acceptance_rate}) &&
           all_finite(t.acceptance_window);
  });
}

// A rate is drawn (finite, at least 0) or not yet drawn (-1).
bool plausible_rates(const std::vector<double>& rates) {
  return std::all_of(rates.begin(), rates.end(), [](double r) { return r == -1.0 || (std::isfinite(r) && r >= 0.0); });
}

bool plausible_node_states(const std::vector<NodeState>& states) {
  const auto indicator = [](std::int8_t x) { return x >= -1 && x <= 1; };
  return std::all_of(states.begin(), states.end(), [&](const NodeState& s) {
    return s.value >= 0 && s.value <= 5 && indicator(s.deletion) && indicator(s.insertion) && indicator(s.bond);
  });
}

// The checksum catches damage; this catches a file whose checksum was made to
// fit bytes that no run writes, which could otherwise index outside the
// model's tables. What it lets through is a state the sampler can go on from.
bool plausible_values(const Checkpoint& c) {
  const auto states = static_cast<int>(c.deletion_rates.size());
  const bool paths_fit = std::all_of(c.column_rate_states.begin(), c.column_rate_states.end(),
                                     [&](int s) { return s >= 0 && s < states; });
  return c.iteration >= 0 && is_generator_state(c.generator) && plausible_rates(c.deletion_rates) &&
         plausible_rates(c.insertion_rates) && plausible_rates(c.mutation_rates) && paths_fit &&
         plausible_tunings(c.deletion_tunings) && plausible_tunings(c.mutation_tunings) &&
         plausible_node_states(c.node_states) && c.marginal_rate_moves >= 0 && all_finite(c.marginal_tuning);
}

[[noreturn]] void refuse(const std::string& reason) {
  throw ResumeRefused("alnsampler: cannot resume: " + reason + "\n");
}

std::optional<std::string> read_whole_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  return bytes;
}

// A failed write (a full disk) ends the run without leaving the temporary
// file it made (empty `temporary`: none yet): the checkpoint at the path stays
// the last complete one.
[[noreturn]] void write_failure(const std::string& path, const std::string& temporary) {
  const std::string reason = std::strerror(errno);
  if (!temporary.empty()) ::unlink(temporary.c_str());
  throw OutputError("cannot write checkpoint " + path + ": " + reason + "\n", path);
}

void write_all(int fd, const char* data, std::size_t size, const std::string& temporary) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written == 0) errno = ENOSPC;
    if (written <= 0) write_failure(temporary, temporary);
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

std::chrono::milliseconds test_write_delay() {
  const char* text = std::getenv("ALNSAMPLER_TEST_CHECKPOINT_DELAY_MS");
  const auto value = text != nullptr ? parse_exact<long>(text) : std::nullopt;
  return std::chrono::milliseconds(value && *value > 0 ? *value : 0);
}

void sync_folder(const fs::path& folder, const std::string& path) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) write_failure(path, "");
  ::close(fd);
}

void check_option(const std::string& option, const std::string& here, const std::string& saved,
                  const std::string& path) {
  if (here != saved) {
    refuse("the run was started with " + option + " " + saved + ", not " + here + " (checkpoint " + path + ")");
  }
}

// Checked before anything opens the checkpoint: opening a pipe would wait for
// a writer, and a folder cannot be read.
void refuse_unless_regular_file(const std::string& path) {
  std::error_code ignored;
  const auto status = fs::status(path, ignored);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    refuse("the checkpoint " + path +
           " is not a regular file (a pipe, a folder or a device), so no run wrote it; "
           "remove it and start the run without --resume");
  }
}

// A flag option is named with what the run was started with, as the options
// with a value are.
void check_flag(const std::string& option, bool here, bool saved, const std::string& path) {
  if (here == saved) return;
  refuse("the run was started " + std::string(saved ? "with " : "without ") + option + ", not " +
         (saved ? "without" : "with") + " it (checkpoint " + path + ")");
}

}  // namespace

std::array<std::uint64_t, 3> hash_input_files(const InputPaths& inputs) {
  std::array<std::uint64_t, 3> hashes{};
  for (std::size_t i = 0; i < hashes.size(); ++i) hashes[i] = file_content_hash(inputs.paths[i]).value_or(0);
  return hashes;
}

std::string checkpoint_path(const std::string& run_prefix) { return run_prefix + "_checkpoint.bin"; }

std::string encode_checkpoint(const Checkpoint& c) {
  BinaryWriter out;
  out.bytes().append(tag, sizeof(tag));
  out.put(format_version);
  out.put<std::int64_t>(c.iteration);
  out.put<std::uint32_t>(c.seed);
  out.put<std::int64_t>(c.k_max);
  out.put<std::int64_t>(c.thin);
  out.put<std::uint8_t>(c.write_ancestors ? 1 : 0);
  out.put<std::int64_t>(c.marginal_rate_moves);
  out.put_text(c.data_file);
  for (const auto hash : c.input_hashes) out.put(hash);
  for (const auto size : c.run_file_sizes) out.put(size);
  out.put(c.generator);
  out.put_vector(c.deletion_rates);
  out.put_vector(c.insertion_rates);
  out.put_vector(c.mutation_rates);
  out.put_vector(c.column_rate_states);
  put_tunings(out, c.deletion_tunings);
  put_tunings(out, c.mutation_tunings);
  out.put_vector(c.marginal_tuning);
  out.put_vector(c.node_states);
  out.put(content_hash(out.bytes()));
  return out.bytes();
}

DecodedCheckpoint decode_checkpoint(const std::string& bytes) {
  if (bytes.size() < header_bytes + checksum_bytes || bytes.compare(0, sizeof(tag), tag, sizeof(tag)) != 0) {
    return {std::nullopt, "is not a checkpoint of alnsampler"};
  }
  BinaryReader header(bytes.data() + sizeof(tag), sizeof(std::uint32_t));
  const auto version = header.get<std::uint32_t>();
  if (version != format_version) {
    return {std::nullopt, "has format version " + to_string(version) + ", and this alnsampler reads version " +
                              to_string(format_version)};
  }
  const std::size_t body_end = bytes.size() - checksum_bytes;
  BinaryReader trailer(bytes.data() + body_end, checksum_bytes);
  if (trailer.get<std::uint64_t>() != content_hash(bytes.data(), body_end)) {
    return {std::nullopt, "is damaged (its checksum does not match its contents)"};
  }
  try {
    BinaryReader in(bytes.data() + header_bytes, body_end - header_bytes);
    Checkpoint checkpoint = decode_fields(in);
    if (!in.at_end()) throw std::runtime_error("bytes after the last field");
    if (!plausible_values(checkpoint)) return {std::nullopt, "is damaged (it holds values that no run writes)"};
    return {std::move(checkpoint), ""};
  } catch (const std::runtime_error&) {
    return {std::nullopt, "is damaged (its fields do not fit its length)"};
  }
}

void write_checkpoint(const std::string& path, const Checkpoint& checkpoint) {
  const std::string bytes = encode_checkpoint(checkpoint);
  const std::string temporary = path + ".tmp";
  // A temporary file left by a killed run is removed, never opened: it may
  // be anything by now (a pipe would block the open for ever).
  remove_temporary_checkpoint(path);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) write_failure(temporary, "");
  const std::size_t half = bytes.size() / 2;
  write_all(fd, bytes.data(), half, temporary);
  if (const auto delay = test_write_delay(); delay.count() > 0) std::this_thread::sleep_for(delay);
  write_all(fd, bytes.data() + half, bytes.size() - half, temporary);
  if (::fsync(fd) != 0) write_failure(temporary, temporary);
  if (::close(fd) != 0) write_failure(temporary, temporary);
  if (::rename(temporary.c_str(), path.c_str()) != 0) write_failure(path, temporary);
  const fs::path file(path);
  sync_folder(file.has_parent_path() ? file.parent_path() : fs::path("."), path);
}

void remove_checkpoint(const std::string& path) {
  std::error_code error;
  fs::remove(path, error);
  if (error) throw OutputError("cannot remove the old checkpoint " + path + ": " + error.message() + "\n", path);
  remove_temporary_checkpoint(path);
}

void remove_temporary_checkpoint(const std::string& path) {
  const std::string temporary = path + ".tmp";
  std::error_code error;
  fs::remove(temporary, error);
  if (error) {
    throw OutputError("cannot remove the old temporary checkpoint " + temporary + ": " + error.message() + "\n",
                      temporary);
  }
}

Checkpoint checkpoint_to_resume(const std::string& path, const RunSettings& settings, const InputPaths& inputs,
                                const std::string& run_prefix) {
  refuse_unless_regular_file(path);
  const auto bytes = read_whole_file(path);
  if (!bytes) refuse("there is no checkpoint " + path + " to continue from; start the run without --resume");
  DecodedCheckpoint decoded = decode_checkpoint(*bytes);
  if (!decoded.checkpoint) refuse("the checkpoint " + path + " " + decoded.fault);
  const Checkpoint& c = *decoded.checkpoint;

  check_option("-s", to_string(settings.seed), to_string(c.seed), path);
  check_option("-k", to_string(settings.k_max), to_string(c.k_max), path);
  check_option("-d", settings.data_file, c.data_file, path);
  check_option("--thin", to_string(settings.thin), to_string(c.thin), path);
  check_flag("--ancestors", settings.write_ancestors, c.write_ancestors, path);
  check_option("--marginal-rate-moves", to_string(settings.marginal_rate_moves), to_string(c.marginal_rate_moves),
               path);
  const auto hashes = hash_input_files(inputs);
  for (std::size_t i = 0; i < hashes.size(); ++i) {
    if (hashes[i] != c.input_hashes[i]) {
      refuse(std::string("the ") + input_names[i] + " " + inputs.paths[i] +
             " is not the one the run was started with (checkpoint " + path + ")");
    }
  }
  if (settings.n_iterations < c.iteration) {
    refuse("-n " + to_string(settings.n_iterations) + " is below the " + to_string(c.iteration) +
           " iterations that the checkpoint " + path + " has already done");
  }
  for (std::size_t i = 0; i < run_file_count; ++i) {
    const std::string file = run_prefix + run_files[i].part;
    if (!fs::exists(file)) refuse("the output file " + file + " is missing");
    std::error_code error;
    const std::uintmax_t size = fs::is_regular_file(file) ? fs::file_size(file, error) : 0;
    if (error || size < c.run_file_sizes[i]) {
      refuse("the output file " + file + " is shorter than the checkpoint " + path + " recorded");
    }
  }
  return std::move(*decoded.checkpoint);
}
