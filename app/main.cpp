#include "app/MainWindow.h"
#include "app/TApplication.h"

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    MainWindow window;
    window.Create();
    window.show();
    return app.exec();
}
