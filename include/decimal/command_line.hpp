#pragma once

#include <array>

namespace decimal {

// What decimal-diff's long options take, as getopt_long counts it.
enum class option_argument { none, required, optional };

// The options a long name selects beyond the short ones ('f', 'n', 't',
// 'e', 'q', 'h'), numbered past every character.
enum option_id : int {
  option_min_snr = 256,
  option_plot,
  option_version,
  option_skip,
  option_model,
  option_impl,
  option_samples,
  option_json,
  option_junit,
  option_model_encoding,
  option_impl_encoding,
  option_samples_encoding,
  option_delay,
  option_max_delay,
  option_color,
  option_html,
  option_summary,
  option_plot_dir,
  option_weak,
  option_word_bits,
  option_model_format,
  option_max_mean,
  option_accuracy,
  option_junit_suite,
  option_channels,
  option_samples_channels,
  option_channel_names,
  option_select,
  option_complex,
  option_complex_tolerance,
  option_evm_reference,
  option_max_evm,
  option_model_imag,
  option_impl_imag,
};

struct long_option {
  const char* name;
  option_argument argument;
  int id;  // the short option's character, or an option_id
};

// decimal-diff's long options: the one list that its parser takes, and that
// a test holds its --help, manual page and completion to.
inline constexpr std::array<long_option, 41> decimal_diff_options{{
    {"format", option_argument::required, 'f'},
    {"count", option_argument::required, 'n'},
    {"tolerance", option_argument::required, 't'},
    {"min-snr", option_argument::required, option_min_snr},
    {"max-mean", option_argument::required, option_max_mean},
    {"accuracy", option_argument::required, option_accuracy},
    {"skip", option_argument::required, option_skip},
    {"delay", option_argument::required, option_delay},
    {"max-delay", option_argument::required, option_max_delay},
    {"model", option_argument::required, option_model},
    {"impl", option_argument::required, option_impl},
    {"samples", option_argument::required, option_samples},
    {"encoding", option_argument::required, 'e'},
    {"model-encoding", option_argument::required, option_model_encoding},
    {"impl-encoding", option_argument::required, option_impl_encoding},
    {"samples-encoding", option_argument::required, option_samples_encoding},
    {"model-format", option_argument::required, option_model_format},
    {"channels", option_argument::required, option_channels},
    {"samples-channels", option_argument::required, option_samples_channels},
    {"channel-names", option_argument::required, option_channel_names},
    {"select", option_argument::required, option_select},
    {"model-imag", option_argument::required, option_model_imag},
    {"impl-imag", option_argument::required, option_impl_imag},
    {"complex", option_argument::none, option_complex},
    {"complex-tolerance", option_argument::required, option_complex_tolerance},
    {"evm-reference", option_argument::required, option_evm_reference},
    {"max-evm", option_argument::required, option_max_evm},
    {"weak", option_argument::required, option_weak},
    {"word-bits", option_argument::required, option_word_bits},
    {"plot", option_argument::required, option_plot},
    {"json", option_argument::none, option_json},
    {"junit", option_argument::required, option_junit},
    {"junit-suite", option_argument::required, option_junit_suite},
    {"html", option_argument::required, option_html},
    {"summary", option_argument::required, option_summary},
    {"plot-dir", option_argument::required, option_plot_dir},
    {"color", option_argument::optional, option_color},
    {"colour", option_argument::optional, option_color},
    {"quiet", option_argument::none, 'q'},
    {"help", option_argument::none, 'h'},
    {"version", option_argument::none, option_version},
}};

}  // namespace decimal
