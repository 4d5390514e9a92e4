#pragma once

#include <QQuickItem>

class MyGLWidget : public QQuickItem
{
    Q_OBJECT
public:
    explicit MyGLWidget(QQuickItem *parent = nullptr);
};
