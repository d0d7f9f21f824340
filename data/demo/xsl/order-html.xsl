<?xml version="1.0" encoding="UTF-8"?>
<!--
  A purchase order in its standard form (ORDER) as a page to read: who orders from whom,
  where it goes, and the lines with their amounts. Mailed with the notification to the
  recipients who asked for it.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>

  <xsl:template match="/ORDER">
    <xsl:variable name="h" select="HEADER"/>
    <html>
      <head>
        <meta charset="UTF-8"/>
        <title>Purchase order <xsl:value-of select="$h/ORDERNUMBER"/></title>
        <style>
          body { font-family: sans-serif; margin: 2em; color: #222; }
          h1 { font-size: 1.4em; border-bottom: 2px solid #456; padding-bottom: .3em; }
          table { border-collapse: collapse; }
          .parties td { vertical-align: top; padding-right: 3em; }
          .lines { width: 100%; margin-top: 1.5em; }
          .lines th { background: #456; color: #fff; text-align: left; padding: .3em .5em; }
          .lines td { border-bottom: 1px solid #ccc; padding: .3em .5em; }
          .num { text-align: right; }
          .total td { font-weight: bold; border-bottom: none; }
          .remark { margin-top: 1.5em; font-style: italic; }
        </style>
      </head>
      <body>
        <h1>Purchase order <xsl:value-of select="$h/ORDERNUMBER"/></h1>
        <p>
          Ordered on <xsl:value-of select="$h/ORDERDATE"/>,
          wanted by <xsl:value-of select="$h/REQUESTEDDELIVERY"/>.
          Payment: <xsl:value-of select="$h/PAYMENTTERMS"/>.
        </p>
        <table class="parties">
          <tr>
            <td>
              <strong>Buyer</strong><br/>
              <xsl:value-of select="$h/BUYER/NAME"/> (<xsl:value-of select="$h/BUYER/CODE"/>)<br/>
              <xsl:value-of select="$h/BUYER/CONTACTNAME"/>
              <xsl:if test="normalize-space($h/BUYER/PHONE) != ''">
                <br/><xsl:value-of select="$h/BUYER/PHONE"/>
              </xsl:if>
            </td>
            <td>
              <strong>Supplier</strong><br/>
              <xsl:value-of select="$h/SUPPLIER/NAME"/> (<xsl:value-of select="$h/SUPPLIER/CODE"/>)
            </td>
            <td>
              <strong>Deliver to</strong><br/>
              <xsl:value-of select="$h/DELIVERYADDRESS/NAME"/><br/>
              <xsl:for-each select="$h/DELIVERYADDRESS/STREET">
                <xsl:value-of select="."/><br/>
              </xsl:for-each>
              <xsl:value-of select="$h/DELIVERYADDRESS/POSTCODE"/>
              <xsl:text> </xsl:text>
              <xsl:value-of select="$h/DELIVERYADDRESS/CITY"/>,
              <xsl:value-of select="$h/DELIVERYADDRESS/COUNTRY"/>
            </td>
          </tr>
        </table>
        <table class="lines">
          <tr>
            <th>#</th><th>Item</th><th>Description</th>
            <th class="num">Quantity</th><th class="num">Unit price</th><th class="num">Amount</th>
          </tr>
          <xsl:for-each select="LINES/LINE">
            <tr>
              <td><xsl:value-of select="@number"/></td>
              <td><xsl:value-of select="ITEM"/></td>
              <td><xsl:value-of select="DESCRIPTION"/></td>
              <td class="num"><xsl:value-of select="QUANTITY"/><xsl:text> </xsl:text><xsl:value-of select="QUANTITY/@unit"/></td>
              <td class="num"><xsl:value-of select="UNITPRICE"/></td>
              <td class="num"><xsl:value-of select="AMOUNT"/></td>
            </tr>
          </xsl:for-each>
          <tr class="total">
            <td colspan="5">Total, <xsl:value-of select="TOTAL/@lines"/> lines, without VAT</td>
            <td class="num"><xsl:value-of select="$h/CURRENCY"/><xsl:text> </xsl:text><xsl:value-of select="TOTAL"/></td>
          </tr>
        </table>
        <xsl:if test="normalize-space($h/REMARK) != ''">
          <p class="remark"><xsl:value-of select="$h/REMARK"/></p>
        </xsl:if>
      </body>
    </html>
  </xsl:template>

  <!-- Anything that is not an ORDER in standard form still gives a page that says so. -->
  <xsl:template match="/*" priority="-1">
    <html>
      <head><meta charset="UTF-8"/><title>Document</title></head>
      <body>
        <p>This document is not a purchase order in standard form (its root is <xsl:value-of select="name()"/>).</p>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>
