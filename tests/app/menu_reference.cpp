// Draws the tray menu as a person must see it, from the expected captions alone, for the
// end-to-end test to hold the program's open menu against. Same toolkit, display and fonts, so
// the two pictures agree pixel for pixel when the items do.
// usage: app_menu_reference OUT.png

#include <QApplication>
#include <QMenu>
#include <QPixmap>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  QApplication app(argc, argv);
  QMenu menu;
  menu.addAction(QStringLiteral("終了(&X)"));
  menu.addAction(QStringLiteral("一時停止/解除(&P)"))->setCheckable(true);
  menu.addAction(QStringLiteral("この曲はパス(&N)"));
  menu.addAction(QStringLiteral("極性反転(&I)"))->setCheckable(true);
  menu.addMenu(QStringLiteral("タグ情報"))->addAction(QStringLiteral("タイトル"));
  menu.adjustSize();
  return menu.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
