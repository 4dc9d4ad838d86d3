#include "app/DialogLabels.h"

namespace DialogLabels {

void Apply(wxMessageDialog& box)
{
    // Each setter takes the labels of one button set; the toolkit uses the
    // ones that match the box's buttons.
    const long style = box.GetMessageDialogStyle();
    if (style & wxYES_NO) {
        if (style & wxCANCEL) box.SetYesNoCancelLabels(Label(kYes), Label(kNo), Label(kCancel));
        else box.SetYesNoLabels(Label(kYes), Label(kNo));
    } else if (style & wxCANCEL) {
        box.SetOKCancelLabels(Label(kOk), Label(kCancel));
    } else {
        box.SetOKLabel(Label(kOk));
    }
}

} // namespace DialogLabels
