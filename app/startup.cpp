#include "app/startup.h"

#include <exception>
#include <memory>

#include "app/tform1.h"

namespace qvb {

int RunProgram(tk::Application& application, const std::string& waiting_file, RequestLog* log) {
  try {
    application.Initialize();
    application.SetTitle(kApplicationTitle);
    auto form =
        std::make_unique<TForm1>(application, waiting_file, log);  // the refresh runs in here
    form->FormCreate(form.get());
    application.Run(form->window());
  } catch (const tk::Exception& e) {
    application.ShowException(e.what());
  } catch (...) {
    // Anything else is shown as a toolkit exception with an empty message.
    application.ShowException("");
  }
  return 0;
}

}  // namespace qvb
