#include "myglwidget.h"

MyGLWidget::MyGLWidget(QQuickItem *parent) : QQuickItem(parent) {}
