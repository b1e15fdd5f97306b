#pragma once
#include <opencv2/core.hpp>

#include <optional>
#include <utility>

// What an operator computed from one input image alone, kept for a later call
// with the same input and other parameters. The input's header is held, so its
// pixels cannot be freed and their address given to another image; the owner
// promises not to change them in place (ToneMappingBase::keepInputSteps).
template <typename Steps>
class InputSteps {
public:
    // The steps made from `input`, or null when there are none for it.
    Steps* find(const cv::Mat& input) { return holds(input) ? &*steps_ : nullptr; }
    const Steps* find(const cv::Mat& input) const { return holds(input) ? &*steps_ : nullptr; }

    Steps& keep(const cv::Mat& input, Steps steps)
    {
        input_ = input;
        steps_ = std::move(steps);
        return *steps_;
    }

private:
    bool holds(const cv::Mat& input) const
    {
        return steps_ && input_.data == input.data && input_.size == input.size && input_.type() == input.type() &&
               input_.step[0] == input.step[0];
    }

    cv::Mat input_;
    std::optional<Steps> steps_;
};
