// A paste into the mail composer's body: the text is taken, laid out into the screen's lines and
// scrolled to the caret, as one paste in the window does before the next frame. The argument is
// the pasted text's size in bytes: one unbroken word ("Unbroken") or words of eight letters
// ("Words"). The target: 100 KB laid out in well under a second.

#include <benchmark/benchmark.h>

#include <string>

#include "platform/MessageUI/MFMailComposeViewController.h"
#include "platform/UIKit/UIWindow.h"

namespace {

std::string pasted(size_t size, bool words) {
    std::string text;
    for (size_t i = 0; i < size; ++i)
        text += words && i % 9 == 8 ? ' ' : static_cast<char>('a' + i % 26);
    return text;
}

void paste(benchmark::State& state, bool words) {
    auto window = UIWindow::initWithFrame(CGRectMake(0, 0, 320, 480));
    auto presenter = std::make_shared<UIViewController>();
    window->addSubview(presenter->view());
    window->makeKeyAndVisible();
    const std::string text = pasted(static_cast<size_t>(state.range(0)), words);
    for (auto _ : state) {
        auto composer = MFMailComposeViewController::init();
        presenter->presentModalViewController(composer, false);
        composer->focusField(MFMailComposeViewController::Field::Body);
        composer->insertText(text);
        if (composer->bodyScrollOffset() <= 0)
            state.SkipWithError("the body did not scroll to the caret");
        benchmark::DoNotOptimize(composer->bodyLines().size());
        presenter->dismissModalViewControllerAnimated(false);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_PasteUnbroken(benchmark::State& state) {
    paste(state, false);
}
void BM_PasteWords(benchmark::State& state) {
    paste(state, true);
}

BENCHMARK(BM_PasteUnbroken)->Arg(2000)->Arg(8000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PasteWords)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
