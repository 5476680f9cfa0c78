#include <QFont>
#include <QStringList>

#include "app/AppResources.h"

namespace tunewell {

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/tunewell/icons/tunewell-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

void InstallFontSubstitutes() {
  QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                             {QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAPGothic"),
                              QStringLiteral("VL PGothic"), QStringLiteral("Takao PGothic")});
}

}  // namespace tunewell
