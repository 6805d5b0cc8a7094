#include "app/TForm1.h"

#include <QFile>

void TForm1::load(bool stopRecordingFirst)
{
    if (!recorder_.CanLoad())
        return;
    if (!OpenDialog1.Execute())
        return;
    if (stopRecordingFirst)
        recorder_.Stop();
    recorder_.Load(QFile::encodeName(OpenDialog1.FileName()).toStdString());
}

void TForm1::kwFlatBtn5Click()
{
    try {
        recorder_.Leave();
    } catch (const std::exception &) {
        Window.Close();
        throw;
    }
    Window.Close();
}

void TForm1::FormCreate()
{
    recorder_.Start();
    Image1.setTransparent(true);
}
